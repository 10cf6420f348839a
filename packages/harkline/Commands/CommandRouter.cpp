#include "harkline/Commands/CommandRouter.h"

#include "cli-frame/Runtime/ToolStartup.h"
#include "harkline/Commands/DiagnosticsLogsCommand.h"
#include "harkline/Commands/DiagnosticsStateCommand.h"
#include "harkline/Commands/TranscribeCommand.h"
#include "harkline/Runtime/CLIError.h"

namespace harkline {

void CommandRouter::run(const std::optional<std::string>& commandName, const std::vector<std::string>& arguments) {
    auto identifier = commandName ? commandIdentifier(*commandName) : std::nullopt;
    std::unique_ptr<cli::CLIExecutableCommand> command;
    try {
        command = makeCommand(identifier.value_or(CommandIdentifier::transcribe), cli::CommandArguments(arguments));
    } catch (const std::exception& failure) {
        context_.emitter.emitFailure(failure, "apple_cli_error");
        cli::exitProcess(1);
    }
    command->run();
}

std::unique_ptr<cli::CLIExecutableCommand> CommandRouter::makeCommand(CommandIdentifier identifier,
                                                                      const cli::CommandArguments& arguments) const {
    switch (identifier) {
        case CommandIdentifier::diagnosticsLogs: return std::make_unique<DiagnosticsLogsCommand>(context_, arguments);
        case CommandIdentifier::diagnosticsState: return std::make_unique<DiagnosticsStateCommand>(context_);
        case CommandIdentifier::transcribe: return std::make_unique<TranscribeCommand>(context_);
        case CommandIdentifier::envCheck:
        case CommandIdentifier::supportLocales:
        case CommandIdentifier::assetsStatus:
        case CommandIdentifier::assetsDownload:
        case CommandIdentifier::assetsCancel:
            // Not built yet.
            throw CLIError(CLIError::Case::backendUnavailable);
    }
    throw CLIError(CLIError::Case::backendUnavailable);
}

}  // namespace harkline
