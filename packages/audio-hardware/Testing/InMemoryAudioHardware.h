#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "audio-hardware/AudioHardware.h"
#include "audio-hardware/ChangeWatchers.h"

namespace audiohw {

// Hardware held in memory for tests, for what a real server cannot be made to do: reads
// that fail, writes that are refused, a default input that does not take, changes
// announced exactly when the test says. Safe to use from several threads.
class InMemoryAudioHardware final : public AudioHardware {
public:
    // An output with a mute switch, a main volume and one volume per channel.
    static Device output(DeviceID id, const std::string& name, const std::string& uid, std::vector<float> volumes);
    static Device input(DeviceID id, const std::string& name, const std::string& uid, std::uint32_t channels);

    // Changes what the next snapshot returns; announces nothing.
    void update(const std::function<void(HardwareSnapshot&)>& change);
    HardwareSnapshot state() const;

    void failReads(bool fail);
    // Every accepted write, as "mute ID true", "volumes ID main 0.5", "volumes ID channels 0 0.5"
    // or "default-input UID".
    std::vector<std::string> writes() const;
    // Writes whose description starts with `prefix` are refused: "mute 40", "volumes 40 main",
    // "volumes 40" (all of that device's volumes), "default-input mic".
    void refuseWrites(const std::string& prefix);
    // setDefaultInput answers success but changes nothing, as a server that overrules it.
    void ignoreDefaultInputChanges(bool ignore);

    // Delivers on the calling thread, as the hardware's own thread would.
    void announce(HardwareChange change);
    // Returns once `count` watches are running: a latch for tests whose watcher starts elsewhere.
    void waitForWatches(std::size_t count);

    std::optional<HardwareSnapshot> snapshot() override;
    bool setDefaultInput(const std::string& uid) override;
    bool setMute(DeviceID device, bool muted) override;
    bool setVolumes(DeviceID device, const VolumeChange& change) override;
    Watch watch(ChangeCallback onChange) override;

private:
    // Under mutex_: the device, or null.
    Device* find(DeviceID id);
    // Under mutex_: records the write unless it is refused.
    bool accept(const std::string& write);

    mutable std::mutex mutex_;
    std::condition_variable watchesChanged_;
    HardwareSnapshot state_;
    bool failReads_ = false;
    bool ignoreDefaultInputChanges_ = false;
    std::vector<std::string> refused_;
    std::vector<std::string> writes_;
    ChangeWatchers watchers_;
};

}  // namespace audiohw
