#pragma once

#include "cli-frame/Commands/CLIExecutableCommand.h"
#include "hushline/Commands/CommandContext.h"

namespace hushline {

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
