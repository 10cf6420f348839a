#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli-frame/Commands/CLIExecutableCommand.h"
#include "cli-frame/Json/Json.h"
#include "hushline/Commands/CommandContext.h"

namespace hushline {

struct AudioStatusPayload {
    std::uint32_t deviceId = 0;
    std::optional<std::string> deviceName;
    std::optional<double> mainVolume;
    std::optional<double> leftVolume;
    std::optional<double> rightVolume;
    std::optional<bool> muted;
    bool hasPendingSnapshot = false;
};

void to_json(cli::Json& json, const AudioStatusPayload& value);

// Reports the default output device's present state and whether a restore is pending.
// Changes nothing and never fails.
class StatusCommand : public cli::CLIExecutableCommand {
public:
    explicit StatusCommand(CommandContext context) : context_(std::move(context)) {}
    int run() override;

private:
    CommandContext context_;
};

}  // namespace hushline
