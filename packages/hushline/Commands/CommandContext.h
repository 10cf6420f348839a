#pragma once

#include <memory>

#include "cli-frame/Logging/Logger.h"
#include "cli-frame/Messages/CLIMessageEmitter.h"
#include "hushline/Audio/AudioController.h"
#include "hushline/Audio/StateStore.h"

namespace hushline {

// What every hushline command is given. The store is the process's one store, loaded at start.
struct CommandContext {
    cli::CLIMessageEmitter emitter;
    cli::Logger logger;
    std::shared_ptr<StateStore> stateStore;
    AudioController audioController;
};

}  // namespace hushline
