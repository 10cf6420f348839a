#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli-frame/Commands/CLIExecutableCommand.h"
#include "cli-frame/Json/Json.h"
#include "hushline/Commands/CommandContext.h"

namespace hushline {

// The "restored" line's data, and the details of a failed restore.
struct RestorePayload {
    std::uint32_t deviceId = 0;
    std::optional<std::string> deviceName;
    bool usedSnapshot = false;
    bool fallbackApplied = false;
};

void to_json(cli::Json& json, const RestorePayload& value);

// Puts the stored snapshot back (or a safety volume) and forgets it, whatever the outcome,
// unless no output device could be reached at all.
class RestoreCommand : public cli::CLIExecutableCommand {
public:
    explicit RestoreCommand(CommandContext context) : context_(std::move(context)) {}
    // 0 even after a failure: the host reads the error line, not the status.
    int run() override;

private:
    CommandContext context_;
};

}  // namespace hushline
