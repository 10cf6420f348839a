#include "harkline/Commands/DiagnosticsStateCommand.h"

#include "harkline/Runtime/CLIMessages.h"

namespace harkline {

int DiagnosticsStateCommand::run() {
    context_.emitter.emit(cli::CLIMessage::status(StatusPayload{
        .stage = "diagnostics-state",
        .logPath = context_.emitter.logPath(),
        .data = context_.diagnostics->currentSnapshot(),
    }));
    return 0;
}

}  // namespace harkline
