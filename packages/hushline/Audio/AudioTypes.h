#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "audio-hardware/AudioHardware.h"
#include "hushline/Runtime/CLIError.h"

namespace hushline {

// The state of the default output device, recorded before muting so that a later
// process can put it back. Volumes are the device's 32-bit floats, widened.
struct AudioStateSnapshot {
    audiohw::DeviceID deviceID = audiohw::kNoDevice;  // 0: no device
    std::optional<std::string> deviceName;
    std::optional<double> mainVolume;
    std::optional<double> leftVolume;
    std::optional<double> rightVolume;
    std::optional<bool> muted;
    double createdAt = 0;  // seconds since 2001-01-01T00:00:00Z

    bool operator==(const AudioStateSnapshot&) const = default;
};

struct RestoreOutcome {
    audiohw::DeviceID deviceID = audiohw::kNoDevice;  // the present default output device
    std::optional<std::string> deviceName;
    bool usedSnapshot = false;
    bool fallbackApplied = false;
    std::optional<CLIError::Case> error;  // absent when the restore succeeded
};

// The timestamps of stored snapshots count from this reference date, as the macOS
// host's own dates do.
double secondsSinceReferenceDate(std::chrono::system_clock::time_point time);

}  // namespace hushline
