#include "audio-hardware/PulseAudio/PulseAudioHardware.h"

#include <algorithm>
#include <cmath>

#include "audio-hardware/PulseAudio/DeviceIds.h"
#include "audio-hardware/PulseAudio/PulseServerState.h"

namespace audiohw {

namespace {

// A watch starts within this, even when the server hangs...
constexpr std::chrono::milliseconds kWatchStartTimeout{700};
// ...and waits up to this for a server that has answered, so that its first changes are
// heard: on a loaded machine PipeWire's pulse server has taken over 700 ms to subscribe.
constexpr std::chrono::milliseconds kSlowServerWatchStartTimeout{3000};
// A read on the event connection answers within this, like one on the query connection.
constexpr std::chrono::milliseconds kEventReadTimeout{900};

struct SuccessRequest : PulseRequest {
    bool succeeded = false;
};

void onSuccess(pa_context*, int success, void* userdata) {
    auto* request = static_cast<SuccessRequest*>(userdata);
    request->succeeded = success != 0;
    request->finish();
}

// Runs a request that answers with success or failure.
bool perform(PulseQueryConnection& connection,
             const std::function<pa_operation*(pa_context*, SuccessRequest&)>& start) {
    SuccessRequest request;
    return connection.perform(request, [&](pa_context* context) { return start(context, request); }) &&
           request.succeeded;
}

float toScalar(pa_volume_t volume) {
    return static_cast<float>(static_cast<double>(volume) / PA_VOLUME_NORM);
}

// A scalar as a server volume; absent for what no volume can be (negative, NaN, too loud).
std::optional<pa_volume_t> toVolume(float scalar) {
    const double raw = std::round(static_cast<double>(scalar) * PA_VOLUME_NORM);
    if (!std::isfinite(raw) || raw < 0 || raw > PA_VOLUME_MAX) return std::nullopt;
    return static_cast<pa_volume_t>(raw);
}

Device outputDevice(const SinkRecord& sink) {
    Device device{sink.id, sink.name, sink.description, Direction::output, sink.volume.channels, sink.muted,
                  toScalar(pa_cvolume_max(&sink.volume)), {}};
    for (std::uint8_t channel = 0; channel < sink.volume.channels; ++channel) {
        device.channelVolumes.push_back(toScalar(sink.volume.values[channel]));
    }
    return device;
}

Device inputDevice(const SourceRecord& source) {
    return {source.id, source.name, source.description, Direction::input, source.channels, std::nullopt,
            std::nullopt, {}};
}

// The sink's volumes after the change; absent when the change does not fit the sink.
std::optional<pa_cvolume> changedVolumes(const SinkRecord& sink, const VolumeChange& change) {
    pa_cvolume volumes = sink.volume;
    if (const auto* main = std::get_if<MainVolume>(&change)) {
        const auto volume = toVolume(main->value);
        if (!volume) return std::nullopt;
        pa_cvolume_scale(&volumes, *volume);  // scaling keeps the balance between the channels
        return volumes;
    }
    const auto& values = std::get<ChannelVolumes>(change).values;
    if (values.empty() || values.size() > volumes.channels) return std::nullopt;
    for (std::size_t channel = 0; channel < values.size(); ++channel) {
        const auto volume = toVolume(values[channel]);
        if (!volume) return std::nullopt;
        volumes.values[channel] = *volume;
    }
    return volumes;
}

}  // namespace

PulseAudioHardware::PulseAudioHardware(PulseAudioOptions options)
    : options_{std::move(options.applicationName), std::move(options.server)}, queries_(options_) {}

PulseAudioHardware::~PulseAudioHardware() {
    if (notifications_) notifications_->stop();
    events_.reset();
}

bool PulseAudioHardware::fetchLatest(PulseServerState& state) {
    // While watching, read where the events are heard. PipeWire's pulse server answers each
    // client from a view of its own that it updates separately: the query connection can
    // still show the old default or list when the event connection has been told of the
    // change. Answers on the event connection come after its events, so they show them.
    {
        std::lock_guard lock(eventsMutex_);
        const auto deadline = std::chrono::steady_clock::now() + kEventReadTimeout;
        const auto perform = [&](std::initializer_list<PulseOperation> operations) {
            return events_->perform(operations, deadline);
        };
        if (events_ && PulseServerState::fetch(perform, state)) return true;
    }
    return PulseServerState::fetch(queries_, state);
}

std::optional<HardwareSnapshot> PulseAudioHardware::snapshot() {
    PulseServerState state;
    if (!fetchLatest(state)) return std::nullopt;
    HardwareSnapshot snapshot;
    for (const SinkRecord& sink : state.sinks) snapshot.devices.push_back(outputDevice(sink));
    for (const SourceRecord& source : state.sources) snapshot.devices.push_back(inputDevice(source));
    if (state.defaultSink) snapshot.defaultOutput = sinkDeviceID(*state.defaultSink);
    if (state.defaultSource) snapshot.defaultInput = sourceDeviceID(*state.defaultSource);
    return snapshot;
}

bool PulseAudioHardware::setDefaultInput(const std::string& uid) {
    return perform(queries_, [&](pa_context* context, SuccessRequest& request) {
        return pa_context_set_default_source(context, uid.c_str(), onSuccess, &request);
    });
}

std::optional<SinkRecord> PulseAudioHardware::presentSink(DeviceID device) {
    PulseServerState state;
    if (!isSinkDeviceID(device) || !PulseServerState::fetch(queries_, state)) return std::nullopt;
    const auto sink = std::find_if(state.sinks.begin(), state.sinks.end(),
                                   [&](const SinkRecord& each) { return each.id == device; });
    if (sink == state.sinks.end()) return std::nullopt;
    return *sink;
}

bool PulseAudioHardware::setMute(DeviceID device, bool muted) {
    const std::optional<SinkRecord> sink = presentSink(device);
    if (!sink) return false;
    return perform(queries_, [&](pa_context* context, SuccessRequest& request) {
        return pa_context_set_sink_mute_by_name(context, sink->name.c_str(), muted, onSuccess, &request);
    });
}

bool PulseAudioHardware::setVolumes(DeviceID device, const VolumeChange& change) {
    const std::optional<SinkRecord> sink = presentSink(device);
    if (!sink) return false;
    const std::optional<pa_cvolume> volumes = changedVolumes(*sink, change);
    if (!volumes) return false;
    return perform(queries_, [&](pa_context* context, SuccessRequest& request) {
        return pa_context_set_sink_volume_by_name(context, sink->name.c_str(), &*volumes, onSuccess, &request);
    });
}

Watch PulseAudioHardware::watch(ChangeCallback onChange) {
    // One deadline for the whole start, however many steps wait for the server.
    const auto started = std::chrono::steady_clock::now();
    Watch watch = watchers_.add(std::move(onChange));
    std::lock_guard lock(eventsMutex_);
    if (!events_) {
        notifications_ = std::make_unique<NotificationThread>(watchers_);
        events_ = std::make_unique<PulseEventConnection>(
            options_, [this](Notification notification) { notifications_->post(std::move(notification)); });
    }
    events_->synchronize(started + kWatchStartTimeout, started + kSlowServerWatchStartTimeout);
    return watch;
}

}  // namespace audiohw
