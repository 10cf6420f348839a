#pragma once

#include <memory>

#include "audio-hardware/AudioHardware.h"
#include "cli-frame/Logging/Logger.h"
#include "cli-frame/Messages/CLIMessageEmitter.h"

namespace portline {

// What every portline command is given. The hardware is the machine's in the shipped tool.
struct CommandContext {
    cli::CLIMessageEmitter emitter;
    cli::Logger logger;
    std::shared_ptr<audiohw::AudioHardware> audioHardware;
};

}  // namespace portline
