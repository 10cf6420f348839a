#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "audio-hardware/AudioHardware.h"
#include "audio-hardware/PropertyListenerRegistry.h"
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

// The sound server (PulseAudio, or PipeWire's pulse server) as audio hardware.
// System object: default output = default sink, default input = default source (both
// writable), devices = sinks, then sources that are not monitors. Devices: name = the
// description, UID = the sink's or source's own name, stream configuration = one buffer
// with the channel count in the sink's output or the source's input scope (none in the
// other). Sinks only, output scope: mute; main volume ('vmvc', or 'volm' element 0) = the
// loudest channel / normal volume, written by scaling all channels; 'volm' elements 1
// and 2 = the first two channels (a mono sink has element 1 only).
// Calls run on the caller's thread and wait for the server at most a second. A call answers
// from the server's defaults, sinks and sources fetched in one batch, which the next calls
// reuse for 2 ms at most; any write, server event or lost connection makes the next call
// fetch again. The first
// listener or observer brings a second connection that follows the server's events on a
// thread of its own; listeners and the observer run on another thread of this object,
// from which they may make calls.
class PulseAudioHardware final : public AudioHardware {
public:
    explicit PulseAudioHardware(PulseAudioOptions options = {});
    ~PulseAudioHardware() override;
    PulseAudioHardware(const PulseAudioHardware&) = delete;
    PulseAudioHardware& operator=(const PulseAudioHardware&) = delete;

    bool hasProperty(ObjectID object, const PropertyAddress& address) override;
    Status getPropertyDataSize(ObjectID object, const PropertyAddress& address,
                               std::uint32_t& dataSize) override;
    Status getPropertyData(ObjectID object, const PropertyAddress& address, std::uint32_t& ioDataSize,
                           void* data) override;
    Status getPropertyString(ObjectID object, const PropertyAddress& address,
                             std::optional<std::string>& value) override;
    Status setPropertyData(ObjectID object, const PropertyAddress& address, std::uint32_t dataSize,
                           const void* data) override;
    Status addPropertyListener(ObjectID object, const PropertyAddress& address,
                               PropertyListenerProc listener, void* clientData) override;
    Status removePropertyListener(ObjectID object, const PropertyAddress& address,
                                  PropertyListenerProc listener, void* clientData) override;
    void setConnectionObserver(ConnectionObserver observer) override;

private:
    Status getSystemProperty(const PropertyAddress& address, std::uint32_t& ioDataSize, void* data);
    Status setSystemProperty(const PropertyAddress& address, std::uint32_t dataSize, const void* data);
    // Starts following the server's events, once, and returns when they are followed.
    void followEvents();
    // Under stateMutex_: makes state_ fit to answer from, fetching it again when it is not.
    Status freshState();
    // Under stateMutex_: the device `object` from a fresh state, if it has the property.
    Status deviceWithProperty(ObjectID object, const PropertyAddress& address, DeviceRecord& device);

    const PulseConnectionOptions options_;
    PropertyListenerRegistry listeners_;
    PulseQueryConnection queries_;
    std::mutex stateMutex_;  // held for a whole call; taken before the libpulse lock
    PulseServerState state_;
    std::optional<std::chrono::steady_clock::time_point> stateFetchedAt_;  // none: fetch before use
    std::uint64_t stateChanges_ = 0;  // serverChanges_ when state_ was asked for
    std::atomic<std::uint64_t> serverChanges_{0};  // counted on the event thread, which holds the libpulse lock
    std::mutex eventsMutex_;  // guards the creation of the two below
    // The destructor stops deliveries first (a listener may still be calling in), then the
    // event connection, whose late posts are dropped.
    std::unique_ptr<NotificationThread> notifications_;
    std::unique_ptr<PulseEventConnection> events_;
};

}  // namespace audiohw
