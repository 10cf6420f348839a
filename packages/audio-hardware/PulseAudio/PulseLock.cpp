#include "audio-hardware/PulseAudio/PulseLock.h"

namespace audiohw {

std::mutex& pulseMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace audiohw
