#pragma once

#include <memory>
#include <optional>
#include <string>

#include "cli-frame/Logging/Logger.h"
#include "cli-frame/Messages/CLIMessageEmitter.h"
#include "harkline/Diagnostics/DiagnosticsStore.h"

namespace harkline {

// What every harkline command is given.
struct CommandContext {
    cli::CLIMessageEmitter emitter;
    cli::Logger logger;
    std::shared_ptr<DiagnosticsStore> diagnostics;
    std::optional<std::string> logFilePath;
};

}  // namespace harkline
