#pragma once

#include "cli-frame/Commands/CLIExecutableCommand.h"
#include "harkline/Commands/CommandContext.h"

namespace harkline {

// Reports the stored diagnostics, and what the warm speech engine holds while one
// serves, as one "diagnostics-state" status line.
class DiagnosticsStateCommand : public cli::CLIExecutableCommand {
public:
    explicit DiagnosticsStateCommand(CommandContext context) : context_(std::move(context)) {}
    int run() override;

private:
    CommandContext context_;
};

}  // namespace harkline
