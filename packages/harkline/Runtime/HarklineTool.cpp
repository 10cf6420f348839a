#include "harkline/Runtime/HarklineTool.h"

#include "harkline/Commands/CommandIdentifier.h"

namespace harkline {

const cli::ToolDescription& harklineTool() {
    static const cli::ToolDescription tool{
        .name = "harkline",
        .logEnvironmentVariable = "SPEECH_CLI_LOG_PATH",
        .defaultLogFileName = "harkline.log",
        .applicationSupportFolder = "tessaryn/harkline",
        .commandWords = allCommandWords(),
    };
    return tool;
}

}  // namespace harkline
