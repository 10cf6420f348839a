#include "harkline/Commands/DiagnosticsStateCommand.h"


namespace harkline {

int DiagnosticsStateCommand::run() {
    cli::Json data = context_.diagnostics->currentSnapshot();
    // Asked of the engine itself: it is not kept on disk, since it changes behind our back.
    if (context_.warmEngineState)
        if (auto state = context_.warmEngineState()) data["warmEngine"] = std::move(*state);
    context_.emitter.emitStatus({
        .stage = "diagnostics-state",
        .data = std::move(data),
    });
    return 0;
}

}  // namespace harkline
