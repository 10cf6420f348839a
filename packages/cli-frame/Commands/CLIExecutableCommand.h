#pragma once

namespace cli {

// One command of a tool. `run` reports the command's failures itself, as error lines,
// and never throws.
class CLIExecutableCommand {
public:
    virtual ~CLIExecutableCommand() = default;
    virtual void run() = 0;
};

}  // namespace cli
