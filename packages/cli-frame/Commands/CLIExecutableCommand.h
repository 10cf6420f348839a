#pragma once

namespace cli {

// One command of a tool. `run` reports the command's failures itself, as error lines,
// never throws, and returns the status the process should end with.
class CLIExecutableCommand {
public:
    virtual ~CLIExecutableCommand() = default;
    virtual int run() = 0;
};

}  // namespace cli
