#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli-frame/Commands/CLIExecutableCommand.h"
#include "portline/Commands/CommandContext.h"
#include "portline/Commands/CommandIdentifier.h"

namespace portline {

// Turns the command word into a command and runs it. A missing or unknown word, or a
// command that cannot be built, is one error line and exit status 1.
class CommandRouter {
public:
    explicit CommandRouter(CommandContext context) : context_(std::move(context)) {}

    // The exit status of the command.
    int run(const std::optional<std::string>& commandName, const std::vector<std::string>& arguments);

    // Throws a CLIError (or any other failure) when the command cannot be built.
    std::unique_ptr<cli::CLIExecutableCommand> makeCommand(CommandIdentifier identifier,
                                                           const std::vector<std::string>& arguments) const;

private:
    CommandContext context_;
};

}  // namespace portline
