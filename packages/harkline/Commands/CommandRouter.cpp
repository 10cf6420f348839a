#include "harkline/Commands/CommandRouter.h"

#include "harkline/Commands/AssetsCancelCommand.h"
#include "harkline/Commands/AssetsDownloadCommand.h"
#include "harkline/Commands/AssetsStatusCommand.h"
#include "harkline/Commands/DiagnosticsLogsCommand.h"
#include "harkline/Commands/DiagnosticsStateCommand.h"
#include "harkline/Commands/EnvCheckCommand.h"
#include "harkline/Commands/SupportLocalesCommand.h"
#include "harkline/Commands/TranscribeCommand.h"
#include "harkline/Runtime/CLIError.h"
#include "harkline/Runtime/HarklineTool.h"

namespace harkline {

int CommandRouter::run(const std::optional<std::string>& commandName, const std::vector<std::string>& arguments) {
    auto identifier = commandName ? commandIdentifier(*commandName) : std::nullopt;
    std::unique_ptr<cli::CLIExecutableCommand> command;
    try {
        command = makeCommand(identifier.value_or(CommandIdentifier::transcribe), cli::CommandArguments(arguments));
    } catch (const std::exception& failure) {
        context_.emitter.emitFailure(failure, "apple_cli_error");
        return 1;
    }
    return command->run();
}

std::unique_ptr<cli::CLIExecutableCommand> CommandRouter::makeCommand(CommandIdentifier identifier,
                                                                      const cli::CommandArguments& arguments) const {
    switch (identifier) {
        case CommandIdentifier::envCheck: return std::make_unique<EnvCheckCommand>(context_);
        case CommandIdentifier::supportLocales: return std::make_unique<SupportLocalesCommand>(context_);
        case CommandIdentifier::assetsStatus: return std::make_unique<AssetsStatusCommand>(context_, arguments);
        case CommandIdentifier::assetsDownload:
            return std::make_unique<AssetsDownloadCommand>(
                context_, arguments, DownloadCancellationToken::inFolder(harklinePaths().applicationSupportDirectory()));
        case CommandIdentifier::assetsCancel:
            return std::make_unique<AssetsCancelCommand>(
                context_, DownloadCancellationToken::inFolder(harklinePaths().applicationSupportDirectory()));
        case CommandIdentifier::diagnosticsLogs: return std::make_unique<DiagnosticsLogsCommand>(context_, arguments);
        case CommandIdentifier::diagnosticsState: return std::make_unique<DiagnosticsStateCommand>(context_);
        case CommandIdentifier::transcribe: return std::make_unique<TranscribeCommand>(context_);
    }
    throw CLIError(CLIError::Case::backendUnavailable);
}

}  // namespace harkline
