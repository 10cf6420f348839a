#pragma once

#include <optional>
#include <string>
#include <vector>

#include "audio-hardware/AudioHardware.h"
#include "cli-frame/Logging/Logger.h"
#include "portline/Audio/AudioTypes.h"

namespace portline {

// Enumerates the input devices, reads the default input device and changes it by UID.
// Holds nothing between calls: every operation reads the hardware afresh. Failures are
// thrown as CLIError (enumFailed, noDefaultDevice, deviceNotFound, setDefaultFailed).
class AudioDeviceManager {
public:
    AudioDeviceManager(audiohw::AudioHardware& hardware, cli::Logger logger)
        : hardware_(&hardware), logger_(std::move(logger)) {}

    // In the hardware's device order; devices that cannot record or cannot be named are left out.
    std::vector<AudioInputDevice> getAllInputDevices() const;
    AudioInputDevice getDefaultInputDevice() const;
    SetDefaultResult setDefaultInputDevice(const std::string& uid) const;
    // Searches every device, not only those that can record; UIDs are compared exactly.
    std::optional<audiohw::ObjectID> findDeviceID(const std::string& uid) const;

private:
    std::vector<audiohw::ObjectID> getAllDeviceIDs() const;
    audiohw::ObjectID getDefaultInputDeviceID() const;
    std::optional<std::string> getDeviceName(audiohw::ObjectID device) const;
    std::optional<std::string> getDeviceUID(audiohw::ObjectID device) const;
    // Total channels of the device's input streams; 0 when it has none or they cannot be read.
    std::uint64_t inputChannelCount(audiohw::ObjectID device) const;

    audiohw::AudioHardware* hardware_;
    cli::Logger logger_;
};

}  // namespace portline
