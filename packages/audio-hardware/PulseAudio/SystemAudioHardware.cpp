#include "audio-hardware/SystemAudioHardware.h"

#include "audio-hardware/PulseAudio/PulseAudioHardware.h"

namespace audiohw {

std::unique_ptr<AudioHardware> makeSystemAudioHardware(const std::string& applicationName) {
    return std::make_unique<PulseAudioHardware>(PulseAudioOptions{applicationName, std::nullopt});
}

}  // namespace audiohw
