#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "audio-hardware/AudioHardware.h"
#include "audio-hardware/ChangeWatchers.h"
#include "audio-hardware/PulseAudio/NotificationThread.h"
#include "audio-hardware/PulseAudio/PulseEventConnection.h"
#include "audio-hardware/PulseAudio/PulseQueryConnection.h"
#include "audio-hardware/PulseAudio/PulseServerState.h"

namespace audiohw {

struct PulseAudioOptions {
    std::string applicationName = "tessaryn";
    // A server address such as "unix:/path/native"; absent means libpulse's usual choice
    // (PULSE_SERVER, client.conf, the user's runtime folder).
    std::optional<std::string> server;
};

// The sound server (PulseAudio, or PipeWire's pulse server) as audio hardware. Devices are
// the sinks (outputs, with mute switch, main volume = the loudest channel, and channel
// volumes), then the sources that are not a sink's monitor (inputs, without volumes). The
// uid is the sink's or source's own name, the name its description.
// Reads and writes run on the caller's thread, each one round trip to the server (a volume
// write two: the sink's present volumes first), and give up after at most a second. The
// first watch brings a second connection that follows the server's events on a thread of
// its own; from then on snapshots are read over that connection. Watchers run on another thread of
// this object, from which they may read.
class PulseAudioHardware final : public AudioHardware {
public:
    explicit PulseAudioHardware(PulseAudioOptions options = {});
    ~PulseAudioHardware() override;
    PulseAudioHardware(const PulseAudioHardware&) = delete;
    PulseAudioHardware& operator=(const PulseAudioHardware&) = delete;

    std::optional<HardwareSnapshot> snapshot() override;
    bool setDefaultInput(const std::string& uid) override;
    bool setMute(DeviceID device, bool muted) override;
    bool setVolumes(DeviceID device, const VolumeChange& change) override;
    Watch watch(ChangeCallback onChange) override;

private:
    // The sink as the server has it now; absent when it is not a sink or cannot be read.
    std::optional<SinkRecord> presentSink(DeviceID device);
    // The server's state as seen after every event heard so far.
    bool fetchLatest(PulseServerState& state);

    const PulseConnectionOptions options_;
    ChangeWatchers watchers_;
    PulseQueryConnection queries_;
    std::mutex eventsMutex_;  // guards the creation of the two below and reads over events_
    // The destructor stops deliveries first (a watcher may still be reading), then the
    // event connection, whose late posts are dropped.
    std::unique_ptr<NotificationThread> notifications_;
    std::unique_ptr<PulseEventConnection> events_;
};

}  // namespace audiohw
