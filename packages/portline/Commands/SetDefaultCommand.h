#pragma once

#include <string>
#include <vector>

#include "cli-frame/Commands/CLIExecutableCommand.h"
#include "portline/Commands/CommandContext.h"

namespace portline {

// `set-default --uid <uid>`: makes the device with that UID the default input device.
class SetDefaultCommand final : public cli::CLIExecutableCommand {
public:
    // Takes the last "--uid VALUE" or "--uid=VALUE" of the arguments; throws
    // CLIError invalidArgument when there is none or it is empty.
    SetDefaultCommand(CommandContext context, const std::vector<std::string>& arguments);

    // Writes the result or error line; 1 after an error line.
    int run() override;

    const std::string& uid() const { return uid_; }

private:
    CommandContext context_;
    std::string uid_;
};

}  // namespace portline
