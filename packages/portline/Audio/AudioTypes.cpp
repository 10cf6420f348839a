#include "portline/Audio/AudioTypes.h"

namespace portline {

const char* eventName(const AudioDeviceEvent& event) {
    return std::holds_alternative<DeviceListChangedData>(event) ? "device-list-changed" : "default-device-changed";
}

void to_json(cli::Json& json, const AudioInputDevice& device) {
    json = cli::Json::object();
    json["uid"] = device.uid;
    json["name"] = device.name;
    json["isDefault"] = device.isDefault;
}

void to_json(cli::Json& json, const AudioInputDeviceBasic& device) {
    json = cli::Json::object();
    json["uid"] = device.uid;
    json["name"] = device.name;
}

void to_json(cli::Json& json, const SetDefaultResult& result) {
    json = cli::Json::object();
    if (result.previousDevice) json["previousDevice"] = *result.previousDevice;
    json["currentDevice"] = result.currentDevice;
}

void to_json(cli::Json& json, const DeviceListChangedData& data) {
    json = cli::Json::object();
    json["devices"] = data.devices;
}

void to_json(cli::Json& json, const DefaultDeviceChangedData& data) {
    json = cli::Json::object();
    json["device"] = data.device;
}

}  // namespace portline
