#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli-frame/Logging/Logger.h"
#include "cli-frame/Messages/CLIMessageEmitter.h"
#include "cli-frame/Options/CLIOptions.h"
#include "cli-frame/Paths/CLIPaths.h"
#include "cli-frame/Runtime/ToolDescription.h"

namespace cli {

// The start-up shared by the command-driven tools: ready the standard descriptors, parse
// the command line, choose and open the log, log the start line and build the emitter. Each tool then adds its own
// services and runs its router.
struct ToolStartup {
    CLIPaths paths;
    CLIOptions options;
    std::optional<std::string> logPath;
    Logger logger;
    CLIMessageEmitter emitter;

    static ToolStartup begin(const ToolDescription& tool, int argc, char** argv);
};

// The status to end with after a command that ended with `status`: 1 instead of 0 once an
// answer could not be written to standard output, since the host never received it.
int exitStatus(int status);

}  // namespace cli
