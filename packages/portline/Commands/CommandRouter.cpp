#include "portline/Commands/CommandRouter.h"

#include "portline/Commands/GetDefaultCommand.h"
#include "portline/Commands/ListCommand.h"
#include "portline/Commands/SetDefaultCommand.h"
#include "portline/Commands/WatchCommand.h"
#include "portline/Runtime/CLIError.h"

namespace portline {

int CommandRouter::run(const std::optional<std::string>& commandName, const std::vector<std::string>& arguments) {
    const auto identifier = commandName ? commandIdentifier(*commandName) : std::nullopt;
    if (!identifier) {
        context_.emitter.emitFailure(CLIError(CLIError::Case::commandMissing), "INTERNAL_ERROR");
        return 1;
    }
    std::unique_ptr<cli::CLIExecutableCommand> command;
    try {
        command = makeCommand(*identifier, arguments);
    } catch (const std::exception& failure) {
        context_.emitter.emitFailure(failure, "INTERNAL_ERROR");
        return 1;
    }
    return command->run();
}

std::unique_ptr<cli::CLIExecutableCommand> CommandRouter::makeCommand(CommandIdentifier identifier,
                                                                      const std::vector<std::string>& arguments) const {
    switch (identifier) {
        case CommandIdentifier::list: return std::make_unique<ListCommand>(context_);
        case CommandIdentifier::getDefault: return std::make_unique<GetDefaultCommand>(context_);
        case CommandIdentifier::setDefault: return std::make_unique<SetDefaultCommand>(context_, arguments);
        case CommandIdentifier::watch: return std::make_unique<WatchCommand>(context_);
    }
    throw CLIError(CLIError::Case::commandMissing);
}

}  // namespace portline
