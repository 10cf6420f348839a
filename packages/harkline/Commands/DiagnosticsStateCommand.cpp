#include "harkline/Commands/DiagnosticsStateCommand.h"


namespace harkline {

int DiagnosticsStateCommand::run() {
    context_.emitter.emitStatus({
        .stage = "diagnostics-state",
        .data = context_.diagnostics->currentSnapshot(),
    });
    return 0;
}

}  // namespace harkline
