#pragma once

#include <string_view>

#include "audio-hardware/AudioHardware.h"

namespace audiohw {

// Device ids come from the sink's or source's own name, so a device keeps its id across
// processes and server restarts. Sinks get even ids, sources odd ones, so the two never
// meet; the smallest id is 2, so neither 0 (no device) nor 1 (the system object) occurs.
DeviceID sinkDeviceID(std::string_view name);
DeviceID sourceDeviceID(std::string_view name);
constexpr bool isSinkDeviceID(DeviceID id) { return id % 2 == 0; }

}  // namespace audiohw
