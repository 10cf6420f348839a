#pragma once

#include "cli-frame/Runtime/ToolDescription.h"

namespace hushline {

inline const cli::ToolDescription& hushlineTool() {
    static const cli::ToolDescription tool{
        .name = "hushline",
        .logEnvironmentVariable = "AUDIO_MUTE_CLI_LOG_PATH",
        .defaultLogFileName = "hushline.log",
        .applicationSupportFolder = "tessaryn/system-audio-cli",
        .commandWords = std::set<std::string>{"mute", "restore", "status"},
    };
    return tool;
}

}  // namespace hushline
