#pragma once

#include <optional>
#include <string>
#include <vector>

#include "audio-hardware/AudioHardware.h"
#include "cli-frame/Logging/Logger.h"
#include "portline/Audio/AudioTypes.h"
#include "portline/Runtime/CLIError.h"

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
    // Reports success only once the hardware's default has become the device, which a
    // sound server may decide a moment after accepting the request (or not at all).
    SetDefaultResult setDefaultInputDevice(const std::string& uid) const;

private:
    // Throws `failure` when the hardware cannot be read.
    audiohw::HardwareSnapshot readHardware(CLIError::Case failure) const;
    // Whether the default input is `device`, waiting for a bounded while for it to become so.
    bool defaultInputBecomes(audiohw::DeviceID device) const;

    audiohw::AudioHardware* hardware_;
    cli::Logger logger_;
};

}  // namespace portline
