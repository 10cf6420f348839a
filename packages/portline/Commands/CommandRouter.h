#pragma once

#include <optional>
#include <string>
#include <vector>

#include "portline/Commands/CommandContext.h"

namespace portline {

// Runs the command the word names: `list`, `get-default`, `set-default --uid <uid>` or
// `watch`. A missing or unknown word is one error line. Returns the exit status, 1 after
// an error line.
int runCommand(const CommandContext& context, const std::optional<std::string>& commandName,
               const std::vector<std::string>& arguments);

}  // namespace portline
