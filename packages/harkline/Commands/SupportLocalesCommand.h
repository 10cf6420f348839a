#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli-frame/Commands/CLIExecutableCommand.h"
#include "cli-frame/Json/Json.h"
#include "harkline/Commands/CommandContext.h"

namespace harkline {

// One entry of the host's language picker.
struct LocaleMetadata {
    std::string locale;
    std::string displayName;  // the locale's name for itself, in its own language
    bool needsDownload = false;
    std::optional<double> estimatedSizeMB;
    std::optional<std::string> modelVersion;
    bool isDefault = false;
    // "installed", "missing" or "damaged" where the locale's model has or is offered a
    // formatting model (punctuation, casing).
    std::optional<std::string> formattingModel;
};

struct LocaleListPayload {
    std::vector<LocaleMetadata> locales;
};

void to_json(cli::Json& json, const LocaleMetadata& metadata);
void to_json(cli::Json& json, const LocaleListPayload& payload);

// Lists every locale a speech model can be had for, sorted, with
// whether its model still has to be installed; "zh-CN" is the default choice.
class SupportLocalesCommand : public cli::CLIExecutableCommand {
public:
    explicit SupportLocalesCommand(CommandContext context) : context_(std::move(context)) {}
    int run() override;

private:
    CommandContext context_;
};

}  // namespace harkline
