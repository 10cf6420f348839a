#pragma once

#include <memory>
#include <string>

#include "audio-hardware/AudioHardware.h"

namespace audiohw {

// This machine's audio hardware, as the shipped tools use it.
std::unique_ptr<AudioHardware> makeSystemAudioHardware(const std::string& applicationName);

}  // namespace audiohw
