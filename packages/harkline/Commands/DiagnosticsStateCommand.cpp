#include "harkline/Commands/DiagnosticsStateCommand.h"

#include "harkline/Runtime/CLIMessages.h"

namespace harkline {

int DiagnosticsStateCommand::run() {
    cli::Json data = context_.diagnostics->currentSnapshot();
    // Asked of the engine itself: it is not kept on disk, since it changes behind our back.
    if (context_.warmEngineState)
        if (auto state = context_.warmEngineState()) data["warmEngine"] = std::move(*state);
    context_.emitter.emit(cli::CLIMessage::status(StatusPayload{
        .stage = "diagnostics-state",
        .logPath = context_.emitter.logPath(),
        .data = std::move(data),
    }));
    return 0;
}

}  // namespace harkline
