#pragma once

#include <memory>
#include <optional>
#include <string>

#include "audio-hardware/AudioHardware.h"
#include "cli-frame/Logging/Logger.h"
#include "hushline/Audio/AudioTypes.h"

namespace hushline {

// The only part of hushline that touches the audio hardware: it records and silences the
// default output device and puts the recorded state back. It keeps no state of its own;
// every operation starts from the hardware.
class AudioController {
public:
    AudioController(std::shared_ptr<audiohw::AudioHardware> hardware, cli::Logger logger);

    // Muting comes in two steps so that the record can be kept before anything changes.
    // The state of the default output device before muting. Throws CLIError: deviceUnavailable.
    AudioStateSnapshot stateBeforeMute() const;
    // Silences the recorded device by the first means it offers and names the means.
    // Throws CLIError: propertyUnavailable or muteFailed.
    std::string silence(const AudioStateSnapshot& before) const;

    // Puts a snapshot back onto the default output device, or a 50 % safety volume when it
    // cannot. Never throws: every failure is in the outcome.
    RestoreOutcome restore(const std::optional<AudioStateSnapshot>& snapshot) const;

    // The present state; device 0 and nothing else when there is no default output device.
    AudioStateSnapshot currentState() const;

    static constexpr double safetyVolume = 0.5;

private:
    // The default output device as read now. Throws CLIError deviceUnavailable.
    // One read of the hardware; logs when the sound server cannot be read at all, which
    // would otherwise look like a machine without an output device.
    std::optional<audiohw::HardwareSnapshot> readHardware() const;
    audiohw::Device defaultOutputDevice() const;
    // The device with this id as read now, or null.
    std::optional<audiohw::Device> presentDevice(audiohw::DeviceID deviceID) const;
    AudioStateSnapshot snapshot(const audiohw::Device& device) const;

    // Each writes only what the device has and answers whether it wrote; a refused write
    // throws CLIError muteFailed.
    bool setMuteIfSupported(const audiohw::Device& device, bool mute) const;
    bool setMainVolumeIfSupported(const audiohw::Device& device, double value) const;
    // Channel 1 and channel 2, where given and where the device has them.
    bool setChannelVolumesIfSupported(const audiohw::Device& device, std::optional<double> left,
                                      std::optional<double> right) const;

    std::string applyMute(const audiohw::Device& device) const;
    void apply(const AudioStateSnapshot& snapshot, const audiohw::Device& device) const;
    bool applySafeVolume(const audiohw::Device& device) const;

    std::shared_ptr<audiohw::AudioHardware> hardware_;
    cli::Logger logger_;
};

}  // namespace hushline
