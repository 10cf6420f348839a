#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

// The audio hardware as hushline and portline see it: the devices with their defaults,
// read in one go, four writes, and a watch for changes. One real backend (the sound server
// through libpulse) and one in-memory double for tests sit behind it; a backend for
// another system is another implementation of AudioHardware.
namespace audiohw {

// Stable across processes and server restarts; 0 is no device.
using DeviceID = std::uint32_t;
inline constexpr DeviceID kNoDevice = 0;

enum class Direction { output, input };

// One device as read. Volumes are scalars, 1.0 being the device's normal volume.
struct Device {
    DeviceID id = kNoDevice;
    std::string uid;                  // the server's own name for it
    std::optional<std::string> name;  // for people; absent when the device has none
    Direction direction = Direction::output;
    std::uint32_t channels = 0;
    std::optional<bool> muted;         // absent: no mute switch
    std::optional<float> mainVolume;   // absent: no main volume
    std::vector<float> channelVolumes;  // one per channel that has a volume of its own

    bool hasMuteSwitch() const { return muted.has_value(); }
    bool hasMainVolume() const { return mainVolume.has_value(); }
    bool operator==(const Device&) const = default;
};

// Everything one read of the hardware returns.
struct HardwareSnapshot {
    std::vector<Device> devices;  // outputs, then inputs, each in the server's order
    std::optional<DeviceID> defaultOutput;
    std::optional<DeviceID> defaultInput;

    // Null when there is no such device.
    const Device* device(DeviceID id) const;
    const Device* deviceWithUID(const std::string& uid) const;
    const Device* defaultOutputDevice() const { return defaultOutput ? device(*defaultOutput) : nullptr; }
    const Device* defaultInputDevice() const { return defaultInput ? device(*defaultInput) : nullptr; }
};

// New volumes for a device: a main volume, reached by scaling every channel so that the
// balance stays, or the volumes of its first channels in order (the others keep theirs).
struct MainVolume {
    float value = 0;
};
struct ChannelVolumes {
    std::vector<float> values;
};
using VolumeChange = std::variant<MainVolume, ChannelVolumes>;

enum class HardwareChange { devices, defaultInput, defaultOutput, serverLost, serverRestored };

using ChangeCallback = std::function<void(HardwareChange)>;

// A running watch; destroying or ending it ends it for good: once end() returns, its
// callback is neither running (unless it ends itself) nor called again.
class Watch {
public:
    Watch() = default;
    explicit Watch(std::function<void()> end) : end_(std::move(end)) {}
    ~Watch() { end(); }
    Watch(Watch&& other) noexcept : end_(std::exchange(other.end_, nullptr)) {}
    Watch& operator=(Watch&& other) noexcept {
        if (this != &other) {
            end();
            end_ = std::exchange(other.end_, nullptr);
        }
        return *this;
    }

    void end() {
        if (auto end = std::exchange(end_, nullptr)) end();
    }

private:
    std::function<void()> end_;
};

class AudioHardware {
public:
    virtual ~AudioHardware() = default;

    // The devices and both defaults; absent when the hardware cannot be read.
    virtual std::optional<HardwareSnapshot> snapshot() = 0;

    // Each answers whether the hardware took the write. A change of the default input is
    // only asked for: whether it took shows in the next snapshot.
    virtual bool setDefaultInput(const std::string& uid) = 0;
    virtual bool setMute(DeviceID device, bool muted) = 0;
    virtual bool setVolumes(DeviceID device, const VolumeChange& change) = 0;

    // Calls `onChange` for every change, in order, on a thread of the hardware, from which
    // it may call the hardware. After serverRestored comes `devices`, and `defaultInput`
    // when the default input changed while the server was away. Returns once changes are
    // followed, or after a short bounded wait when the server does not answer. A watch
    // must end before its hardware is destroyed.
    virtual Watch watch(ChangeCallback onChange) = 0;
};

}  // namespace audiohw
