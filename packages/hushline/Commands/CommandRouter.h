#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli-frame/Commands/CLIExecutableCommand.h"
#include "hushline/Commands/CommandContext.h"

namespace hushline {

// "mute" and "restore" run their commands; "status", any other word and no word report
// the status. Building never fails and no command takes arguments.
class CommandRouter {
public:
    explicit CommandRouter(CommandContext context) : context_(std::move(context)) {}

    // The exit status of the command.
    int run(const std::optional<std::string>& commandName, const std::vector<std::string>& arguments);

    std::unique_ptr<cli::CLIExecutableCommand> makeCommand(const std::optional<std::string>& commandName) const;

private:
    CommandContext context_;
};

}  // namespace hushline
