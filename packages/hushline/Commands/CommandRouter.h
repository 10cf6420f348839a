#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hushline/Commands/CommandContext.h"

namespace hushline {

// Runs "mute" or "restore"; "status", any other word and no word report the status. No
// command takes arguments. Returns 0 even after a failure: the host reads the error line.
int runCommand(const CommandContext& context, const std::optional<std::string>& commandName);

}  // namespace hushline
