#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli-frame/Json/Json.h"
#include "cli-frame/Logging/Logger.h"
#include "cli-frame/Messages/CLIMessageEmitter.h"
#include "harkline/Diagnostics/DiagnosticsStore.h"
#include "harkline/Platform/Speech/SpeechModels.h"
#include "harkline/Platform/System/SystemInfo.h"

namespace harkline {

// What every harkline command is given.
struct CommandContext {
    cli::CLIMessageEmitter emitter;
    cli::Logger logger;
    std::shared_ptr<DiagnosticsStore> diagnostics;
    std::optional<std::string> logFilePath;
    // The speech models, and the operating system's own answers.
    std::shared_ptr<const SpeechModels> models;
    std::shared_ptr<const SystemInfo> system;
    // What `diagnostics.state` adds as "warmEngine" while the user's warm speech engine
    // serves: what it holds. None when no engine serves (or the context has none).
    std::function<std::optional<cli::Json>()> warmEngineState;
};

}  // namespace harkline
