#include "hushline/Commands/CommandRouter.h"

#include "hushline/Commands/MuteCommand.h"
#include "hushline/Commands/RestoreCommand.h"
#include "hushline/Commands/StatusCommand.h"

namespace hushline {

int CommandRouter::run(const std::optional<std::string>& commandName, const std::vector<std::string>& /*arguments*/) {
    return makeCommand(commandName)->run();
}

std::unique_ptr<cli::CLIExecutableCommand> CommandRouter::makeCommand(
    const std::optional<std::string>& commandName) const {
    if (commandName == "mute") return std::make_unique<MuteCommand>(context_);
    if (commandName == "restore") return std::make_unique<RestoreCommand>(context_);
    return std::make_unique<StatusCommand>(context_);
}

}  // namespace hushline
