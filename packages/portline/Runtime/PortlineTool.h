#pragma once

#include "cli-frame/Runtime/ToolDescription.h"

namespace portline {

// portline has no default log file and no data folder; any first argument is its command word.
inline const cli::ToolDescription& portlineTool() {
    static const cli::ToolDescription tool{
        .name = "portline",
        .logEnvironmentVariable = "AUDIO_DEVICE_CLI_LOG_PATH",
    };
    return tool;
}

}  // namespace portline
