#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli-frame/Json/Json.h"

namespace portline {

// A device that can record. Devices leave the process only by their UID; ids stay inside.
struct AudioInputDevice {
    std::string uid;
    std::string name;
    bool isDefault = false;

    bool operator==(const AudioInputDevice&) const = default;
};

struct AudioInputDeviceBasic {
    std::string uid;
    std::string name;

    bool operator==(const AudioInputDeviceBasic&) const = default;
};

struct SetDefaultResult {
    std::optional<AudioInputDeviceBasic> previousDevice;  // absent when the old default was unreadable
    AudioInputDeviceBasic currentDevice;
};

// What a watch reports: the whole fresh list, or the new default.
struct DeviceListChangedData {
    std::vector<AudioInputDevice> devices;
};

struct DefaultDeviceChangedData {
    AudioInputDevice device;
};

using AudioDeviceEvent = std::variant<DeviceListChangedData, DefaultDeviceChangedData>;

// "device-list-changed" or "default-device-changed".
const char* eventName(const AudioDeviceEvent& event);

void to_json(cli::Json& json, const AudioInputDevice& device);
void to_json(cli::Json& json, const AudioInputDeviceBasic& device);
void to_json(cli::Json& json, const SetDefaultResult& result);
void to_json(cli::Json& json, const DeviceListChangedData& data);
void to_json(cli::Json& json, const DefaultDeviceChangedData& data);

}  // namespace portline
