#include "audio-hardware/AudioHardware.h"

#include <algorithm>

namespace audiohw {

const Device* HardwareSnapshot::device(DeviceID id) const {
    const auto found = std::find_if(devices.begin(), devices.end(), [&](const Device& each) { return each.id == id; });
    return found == devices.end() ? nullptr : &*found;
}

const Device* HardwareSnapshot::deviceWithUID(const std::string& uid) const {
    const auto found = std::find_if(devices.begin(), devices.end(), [&](const Device& each) { return each.uid == uid; });
    return found == devices.end() ? nullptr : &*found;
}

}  // namespace audiohw
