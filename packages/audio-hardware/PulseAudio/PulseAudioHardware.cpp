#include "audio-hardware/PulseAudio/PulseAudioHardware.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <variant>
#include <vector>

#include "audio-hardware/PulseAudio/DeviceIds.h"

namespace audiohw {

namespace {

// Long enough for the calls of one burst (a tool reading a device's properties one after
// another), shorter than any other process takes to start and change something.
constexpr std::chrono::milliseconds kStateLifetime{2};

// --- Requests and their callbacks -------------------------------------------------------

struct SuccessRequest : PulseRequest {
    bool succeeded = false;
};

void onSuccess(pa_context*, int success, void* userdata) {
    auto* request = static_cast<SuccessRequest*>(userdata);
    request->succeeded = success != 0;
    request->finish();
}

// Runs a request that answers with success or failure; a refusal is kErrorUnspecified.
Status perform(PulseQueryConnection& connection,
               const std::function<pa_operation*(pa_context*, SuccessRequest&)>& start) {
    SuccessRequest request;
    const Status status = connection.perform(request, [&](pa_context* context) { return start(context, request); });
    if (status != kNoError) return status;
    return request.succeeded ? kNoError : kErrorUnspecified;
}

// The device with this id; kErrorBadObject when there is none.
Status findDevice(const PulseServerState& state, ObjectID id, DeviceRecord& device) {
    if (isSinkDeviceID(id)) {
        const auto found = std::find_if(state.sinks.begin(), state.sinks.end(),
                                        [&](const SinkRecord& sink) { return sink.id == id; });
        if (found == state.sinks.end()) return kErrorBadObject;
        device = *found;
        return kNoError;
    }
    const auto found = std::find_if(state.sources.begin(), state.sources.end(),
                                    [&](const SourceRecord& source) { return source.id == id; });
    if (found == state.sources.end()) return kErrorBadObject;
    device = *found;
    return kNoError;
}

// --- The property table -----------------------------------------------------------------

bool isMainVolume(const PropertyAddress& address) {
    return address.element == kElementMain &&
           (address.selector == kPropertyVirtualMainVolume || address.selector == kPropertyVolumeScalar);
}

bool isSystemProperty(const PropertyAddress& address) {
    return address.scope == kScopeGlobal && address.element == kElementMain &&
           (address.selector == kPropertyDefaultOutputDevice || address.selector == kPropertyDefaultInputDevice ||
            address.selector == kPropertyDevices);
}

bool deviceHas(const DeviceRecord& device, const PropertyAddress& address) {
    if (address.selector == kPropertyName || address.selector == kPropertyDeviceUID) {
        return address.scope == kScopeGlobal && address.element == kElementMain;
    }
    if (address.selector == kPropertyStreamConfiguration) {
        return (address.scope == kScopeInput || address.scope == kScopeOutput) && address.element == kElementMain;
    }
    const auto* sink = std::get_if<SinkRecord>(&device);
    if (sink == nullptr || address.scope != kScopeOutput) return false;
    if (address.selector == kPropertyMute || address.selector == kPropertyVirtualMainVolume) {
        return address.element == kElementMain;
    }
    if (address.selector == kPropertyVolumeScalar) {
        return address.element <= std::min<std::uint32_t>(2, sink->volume.channels);
    }
    return false;
}

// Channels the device has in that scope: a sink only plays, a source only records.
std::uint32_t streamChannels(const DeviceRecord& device, PropertyScope scope) {
    if (const auto* sink = std::get_if<SinkRecord>(&device)) return scope == kScopeOutput ? sink->volume.channels : 0;
    const auto& source = std::get<SourceRecord>(device);
    return scope == kScopeInput ? source.channels : 0;
}

float toScalar(pa_volume_t volume) {
    return static_cast<float>(static_cast<double>(volume) / PA_VOLUME_NORM);
}

// A scalar as a server volume; false for what no volume can be (negative, NaN, too loud).
bool toVolume(float scalar, pa_volume_t& volume) {
    const double raw = std::round(static_cast<double>(scalar) * PA_VOLUME_NORM);
    if (!std::isfinite(raw) || raw < 0 || raw > PA_VOLUME_MAX) return false;
    volume = static_cast<pa_volume_t>(raw);
    return true;
}

Status writeFixed(std::uint32_t value, std::uint32_t& ioDataSize, void* data) {
    if (ioDataSize < sizeof value) return kErrorBadPropertySize;
    std::memcpy(data, &value, sizeof value);
    ioDataSize = sizeof value;
    return kNoError;
}

Status writeFixed(float value, std::uint32_t& ioDataSize, void* data) {
    if (ioDataSize < sizeof value) return kErrorBadPropertySize;
    std::memcpy(data, &value, sizeof value);
    ioDataSize = sizeof value;
    return kNoError;
}

}  // namespace

PulseAudioHardware::PulseAudioHardware(PulseAudioOptions options)
    : options_{std::move(options.applicationName), std::move(options.server)}, queries_(options_) {}

Status PulseAudioHardware::freshState() {
    const auto asked = std::chrono::steady_clock::now();
    const std::uint64_t changes = serverChanges_.load();
    if (stateFetchedAt_ && changes == stateChanges_ && asked - *stateFetchedAt_ < kStateLifetime) return kNoError;
    stateFetchedAt_.reset();
    if (const Status status = PulseServerState::fetch(queries_, state_); status != kNoError) return status;
    // Aged from before the question, and unusable if the server changed while it was answered.
    stateFetchedAt_ = asked;
    stateChanges_ = changes;
    return kNoError;
}

PulseAudioHardware::~PulseAudioHardware() {
    if (notifications_) notifications_->stop();
    events_.reset();
}

void PulseAudioHardware::followEvents() {
    std::lock_guard lock(eventsMutex_);
    if (!events_) {
        notifications_ = std::make_unique<NotificationThread>(listeners_);
        events_ = std::make_unique<PulseEventConnection>(
            options_, [this] { ++serverChanges_; },
            [this](Notification notification) { notifications_->post(std::move(notification)); });
    }
    events_->synchronize();
}

bool PulseAudioHardware::hasProperty(ObjectID object, const PropertyAddress& address) {
    if (object == kSystemObject) return isSystemProperty(address);
    std::lock_guard lock(stateMutex_);
    DeviceRecord device;
    return deviceWithProperty(object, address, device) == kNoError;
}

Status PulseAudioHardware::deviceWithProperty(ObjectID object, const PropertyAddress& address, DeviceRecord& device) {
    if (const Status status = freshState(); status != kNoError) return status;
    if (const Status status = findDevice(state_, object, device); status != kNoError) return status;
    return deviceHas(device, address) ? kNoError : kErrorUnknownProperty;
}

Status PulseAudioHardware::getPropertyDataSize(ObjectID object, const PropertyAddress& address,
                                               std::uint32_t& dataSize) {
    if (object == kSystemObject) {
        if (!isSystemProperty(address)) return kErrorUnknownProperty;
        if (address.selector != kPropertyDevices) {
            dataSize = sizeof(ObjectID);
            return kNoError;
        }
        std::lock_guard lock(stateMutex_);
        if (const Status status = freshState(); status != kNoError) return status;
        dataSize = static_cast<std::uint32_t>((state_.sinks.size() + state_.sources.size()) * sizeof(ObjectID));
        return kNoError;
    }
    std::lock_guard lock(stateMutex_);
    DeviceRecord device;
    if (const Status status = deviceWithProperty(object, address, device); status != kNoError) return status;
    if (address.selector == kPropertyName || address.selector == kPropertyDeviceUID) {
        dataSize = sizeof(void*);  // a string reference
    } else if (address.selector == kPropertyStreamConfiguration) {
        dataSize = audioBufferListSize(streamChannels(device, address.scope) > 0 ? 1 : 0);
    } else {
        dataSize = 4;
    }
    return kNoError;
}

Status PulseAudioHardware::getSystemProperty(const PropertyAddress& address, std::uint32_t& ioDataSize,
                                             void* data) {
    std::lock_guard lock(stateMutex_);
    if (const Status status = freshState(); status != kNoError) return status;
    if (address.selector == kPropertyDevices) {
        std::vector<ObjectID> ids;
        for (const SinkRecord& sink : state_.sinks) ids.push_back(sink.id);
        for (const SourceRecord& source : state_.sources) ids.push_back(source.id);
        const std::size_t count = std::min<std::size_t>(ids.size(), ioDataSize / sizeof(ObjectID));
        if (count > 0) std::memcpy(data, ids.data(), count * sizeof(ObjectID));
        ioDataSize = static_cast<std::uint32_t>(count * sizeof(ObjectID));
        return kNoError;
    }
    const bool output = address.selector == kPropertyDefaultOutputDevice;
    const std::optional<std::string>& name = output ? state_.defaultSink : state_.defaultSource;
    ObjectID id = kUnknownObject;
    if (name) id = output ? sinkDeviceID(*name) : sourceDeviceID(*name);
    return writeFixed(id, ioDataSize, data);
}

Status PulseAudioHardware::getPropertyData(ObjectID object, const PropertyAddress& address,
                                           std::uint32_t& ioDataSize, void* data) {
    if (object == kSystemObject) {
        if (!isSystemProperty(address)) return kErrorUnknownProperty;
        return getSystemProperty(address, ioDataSize, data);
    }
    std::lock_guard lock(stateMutex_);
    DeviceRecord device;
    if (const Status status = deviceWithProperty(object, address, device); status != kNoError) return status;

    if (address.selector == kPropertyName || address.selector == kPropertyDeviceUID) {
        return kErrorIllegalOperation;  // text is read through getPropertyString
    }
    if (address.selector == kPropertyStreamConfiguration) {
        const std::uint32_t channels = streamChannels(device, address.scope);
        const std::uint32_t buffers = channels > 0 ? 1 : 0;
        const std::uint32_t size = audioBufferListSize(buffers);
        if (ioDataSize < size) return kErrorBadPropertySize;
        std::memset(data, 0, size);
        auto* list = static_cast<AudioBufferList*>(data);
        list->numberBuffers = buffers;
        if (buffers > 0) list->buffers[0].numberChannels = channels;
        ioDataSize = size;
        return kNoError;
    }
    const auto& sink = std::get<SinkRecord>(device);
    if (address.selector == kPropertyMute) return writeFixed(std::uint32_t{sink.muted ? 1u : 0u}, ioDataSize, data);
    if (isMainVolume(address)) return writeFixed(toScalar(pa_cvolume_max(&sink.volume)), ioDataSize, data);
    return writeFixed(toScalar(sink.volume.values[address.element - 1]), ioDataSize, data);
}

Status PulseAudioHardware::getPropertyString(ObjectID object, const PropertyAddress& address,
                                             std::optional<std::string>& value) {
    if (object == kSystemObject) return isSystemProperty(address) ? kErrorIllegalOperation : kErrorUnknownProperty;
    std::lock_guard lock(stateMutex_);
    DeviceRecord device;
    if (const Status status = deviceWithProperty(object, address, device); status != kNoError) return status;
    if (address.selector == kPropertyName) {
        value = std::visit([](const auto& record) { return record.description; }, device);
    } else if (address.selector == kPropertyDeviceUID) {
        value = std::visit([](const auto& record) { return std::optional<std::string>(record.name); }, device);
    } else {
        return kErrorIllegalOperation;
    }
    return kNoError;
}

Status PulseAudioHardware::setSystemProperty(const PropertyAddress& address, std::uint32_t dataSize,
                                             const void* data) {
    if (address.selector == kPropertyDevices) return kErrorIllegalOperation;
    if (dataSize != sizeof(ObjectID)) return kErrorBadPropertySize;
    ObjectID id = kUnknownObject;
    std::memcpy(&id, data, sizeof id);
    if (const Status status = freshState(); status != kNoError) return status;
    DeviceRecord device;
    if (const Status status = findDevice(state_, id, device); status != kNoError) return status;
    // Whatever the server makes of the write, what was read before it is out of date.
    stateFetchedAt_.reset();
    if (address.selector == kPropertyDefaultOutputDevice) {
        const auto* sink = std::get_if<SinkRecord>(&device);
        if (sink == nullptr) return kErrorIllegalOperation;
        return perform(queries_, [&](pa_context* context, SuccessRequest& request) {
            return pa_context_set_default_sink(context, sink->name.c_str(), onSuccess, &request);
        });
    }
    const auto* source = std::get_if<SourceRecord>(&device);
    if (source == nullptr) return kErrorIllegalOperation;
    return perform(queries_, [&](pa_context* context, SuccessRequest& request) {
        return pa_context_set_default_source(context, source->name.c_str(), onSuccess, &request);
    });
}

Status PulseAudioHardware::setPropertyData(ObjectID object, const PropertyAddress& address, std::uint32_t dataSize,
                                           const void* data) {
    if (object == kSystemObject) {
        if (!isSystemProperty(address)) return kErrorUnknownProperty;
        std::lock_guard lock(stateMutex_);
        return setSystemProperty(address, dataSize, data);
    }
    std::lock_guard lock(stateMutex_);
    DeviceRecord device;
    if (const Status status = deviceWithProperty(object, address, device); status != kNoError) return status;
    const auto* sink = std::get_if<SinkRecord>(&device);
    if (sink == nullptr || address.selector == kPropertyName || address.selector == kPropertyDeviceUID ||
        address.selector == kPropertyStreamConfiguration) {
        return kErrorIllegalOperation;
    }
    if (dataSize != 4) return kErrorBadPropertySize;
    stateFetchedAt_.reset();  // whatever the server makes of the write

    if (address.selector == kPropertyMute) {
        std::uint32_t muted = 0;
        std::memcpy(&muted, data, sizeof muted);
        return perform(queries_, [&](pa_context* context, SuccessRequest& request) {
            return pa_context_set_sink_mute_by_name(context, sink->name.c_str(), muted != 0, onSuccess, &request);
        });
    }
    float scalar = 0;
    std::memcpy(&scalar, data, sizeof scalar);
    pa_volume_t volume = PA_VOLUME_MUTED;
    if (!toVolume(scalar, volume)) return kErrorIllegalOperation;
    pa_cvolume channels = sink->volume;
    if (isMainVolume(address)) {
        // Scaling keeps the balance between the channels.
        pa_cvolume_scale(&channels, volume);
    } else {
        channels.values[address.element - 1] = volume;
    }
    return perform(queries_, [&](pa_context* context, SuccessRequest& request) {
        return pa_context_set_sink_volume_by_name(context, sink->name.c_str(), &channels, onSuccess, &request);
    });
}

Status PulseAudioHardware::addPropertyListener(ObjectID object, const PropertyAddress& address,
                                               PropertyListenerProc listener, void* clientData) {
    const Status status = listeners_.add(object, address, listener, clientData);
    if (status == kNoError) followEvents();
    return status;
}

Status PulseAudioHardware::removePropertyListener(ObjectID object, const PropertyAddress& address,
                                                  PropertyListenerProc listener, void* clientData) {
    return listeners_.remove(object, address, listener, clientData);
}

void PulseAudioHardware::setConnectionObserver(ConnectionObserver observer) {
    const bool observing = static_cast<bool>(observer);
    listeners_.setConnectionObserver(std::move(observer));
    if (observing) followEvents();
}

}  // namespace audiohw
