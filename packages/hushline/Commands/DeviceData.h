#pragma once

#include <optional>
#include <string>

#include "audio-hardware/AudioHardware.h"
#include "cli-frame/Json/Json.h"

namespace hushline {

// How the data of every hushline line begins: the device's id, then its name where it has one.
inline cli::Json deviceData(audiohw::DeviceID deviceID, const std::optional<std::string>& deviceName) {
    cli::Json data = cli::Json::object();
    data["deviceId"] = deviceID;
    if (deviceName) data["deviceName"] = *deviceName;
    return data;
}

}  // namespace hushline
