#include "audio-hardware/PulseAudio/DeviceIds.h"

#include <cstdint>

namespace audiohw {

namespace {

// 31 bits of FNV-1a, never 0.
std::uint32_t nameHash(std::string_view name) {
    std::uint32_t hash = 2166136261u;
    for (const char character : name) {
        hash ^= static_cast<unsigned char>(character);
        hash *= 16777619u;
    }
    hash &= 0x7FFFFFFFu;
    return hash == 0 ? 1 : hash;
}

}  // namespace

DeviceID sinkDeviceID(std::string_view name) { return nameHash(name) << 1; }

DeviceID sourceDeviceID(std::string_view name) { return (nameHash(name) << 1) | 1u; }

}  // namespace audiohw
