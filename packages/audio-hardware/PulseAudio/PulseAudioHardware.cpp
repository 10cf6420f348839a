#include "audio-hardware/PulseAudio/PulseAudioHardware.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <variant>
#include <vector>

#include "audio-hardware/PulseAudio/DeviceIds.h"

namespace audiohw {

namespace {

struct SinkRecord {
    ObjectID id = kUnknownObject;
    std::string name;
    std::optional<std::string> description;
    pa_cvolume volume{};
    bool muted = false;
};

struct SourceRecord {
    ObjectID id = kUnknownObject;
    std::string name;
    std::optional<std::string> description;
    std::uint32_t channels = 0;
};

using DeviceRecord = std::variant<SinkRecord, SourceRecord>;

std::optional<std::string> optionalText(const char* text) {
    return text == nullptr ? std::nullopt : std::optional<std::string>(text);
}

// --- Requests and their callbacks -------------------------------------------------------

struct ServerInfoRequest : PulseRequest {
    std::optional<std::string> defaultSink;
    std::optional<std::string> defaultSource;
    bool answered = false;
};

struct SinkListRequest : PulseRequest {
    std::vector<SinkRecord> sinks;
    bool failed = false;
};

struct SourceListRequest : PulseRequest {
    std::vector<SourceRecord> sources;
    bool failed = false;
};

struct SuccessRequest : PulseRequest {
    bool succeeded = false;
};

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    auto* request = static_cast<ServerInfoRequest*>(userdata);
    if (info != nullptr) {
        request->answered = true;
        request->defaultSink = optionalText(info->default_sink_name);
        request->defaultSource = optionalText(info->default_source_name);
    }
    request->finish();
}

void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* request = static_cast<SinkListRequest*>(userdata);
    if (info != nullptr) {
        request->sinks.push_back({sinkDeviceID(info->name), info->name, optionalText(info->description),
                                  info->volume, info->mute != 0});
        return;
    }
    request->failed = eol < 0;
    request->finish();
}

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* request = static_cast<SourceListRequest*>(userdata);
    if (info != nullptr) {
        if (info->monitor_of_sink == PA_INVALID_INDEX) {
            request->sources.push_back({sourceDeviceID(info->name), info->name, optionalText(info->description),
                                        info->channel_map.channels});
        }
        return;
    }
    request->failed = eol < 0;
    request->finish();
}

void onSuccess(pa_context*, int success, void* userdata) {
    auto* request = static_cast<SuccessRequest*>(userdata);
    request->succeeded = success != 0;
    request->finish();
}

Status fetchDefaults(PulseQueryConnection& connection, ServerInfoRequest& request) {
    const Status status = connection.perform(
        request, [&](pa_context* context) { return pa_context_get_server_info(context, onServerInfo, &request); });
    if (status != kNoError) return status;
    return request.answered ? kNoError : kErrorUnspecified;
}

Status fetchSinks(PulseQueryConnection& connection, std::vector<SinkRecord>& sinks) {
    SinkListRequest request;
    const Status status = connection.perform(
        request, [&](pa_context* context) { return pa_context_get_sink_info_list(context, onSinkInfo, &request); });
    if (status != kNoError) return status;
    if (request.failed) return kErrorUnspecified;
    sinks = std::move(request.sinks);
    return kNoError;
}

Status fetchSources(PulseQueryConnection& connection, std::vector<SourceRecord>& sources) {
    SourceListRequest request;
    const Status status = connection.perform(request, [&](pa_context* context) {
        return pa_context_get_source_info_list(context, onSourceInfo, &request);
    });
    if (status != kNoError) return status;
    if (request.failed) return kErrorUnspecified;
    sources = std::move(request.sources);
    return kNoError;
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
Status findDevice(PulseQueryConnection& connection, ObjectID id, DeviceRecord& device) {
    if (isSinkDeviceID(id)) {
        std::vector<SinkRecord> sinks;
        if (const Status status = fetchSinks(connection, sinks); status != kNoError) return status;
        const auto found = std::find_if(sinks.begin(), sinks.end(), [&](const SinkRecord& sink) { return sink.id == id; });
        if (found == sinks.end()) return kErrorBadObject;
        device = std::move(*found);
        return kNoError;
    }
    std::vector<SourceRecord> sources;
    if (const Status status = fetchSources(connection, sources); status != kNoError) return status;
    const auto found =
        std::find_if(sources.begin(), sources.end(), [&](const SourceRecord& source) { return source.id == id; });
    if (found == sources.end()) return kErrorBadObject;
    device = std::move(*found);
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

PulseAudioHardware::~PulseAudioHardware() {
    if (notifications_) notifications_->stop();
    events_.reset();
}

void PulseAudioHardware::followEvents() {
    std::lock_guard lock(eventsMutex_);
    if (!events_) {
        notifications_ = std::make_unique<NotificationThread>(listeners_);
        events_ = std::make_unique<PulseEventConnection>(
            options_, [this](Notification notification) { notifications_->post(std::move(notification)); });
    }
    events_->synchronize();
}

bool PulseAudioHardware::hasProperty(ObjectID object, const PropertyAddress& address) {
    if (object == kSystemObject) return isSystemProperty(address);
    DeviceRecord device;
    return findDevice(queries_, object, device) == kNoError && deviceHas(device, address);
}

Status PulseAudioHardware::getPropertyDataSize(ObjectID object, const PropertyAddress& address,
                                               std::uint32_t& dataSize) {
    if (object == kSystemObject) {
        if (!isSystemProperty(address)) return kErrorUnknownProperty;
        if (address.selector != kPropertyDevices) {
            dataSize = sizeof(ObjectID);
            return kNoError;
        }
        std::vector<SinkRecord> sinks;
        std::vector<SourceRecord> sources;
        if (const Status status = fetchSinks(queries_, sinks); status != kNoError) return status;
        if (const Status status = fetchSources(queries_, sources); status != kNoError) return status;
        dataSize = static_cast<std::uint32_t>((sinks.size() + sources.size()) * sizeof(ObjectID));
        return kNoError;
    }
    DeviceRecord device;
    if (const Status status = findDevice(queries_, object, device); status != kNoError) return status;
    if (!deviceHas(device, address)) return kErrorUnknownProperty;
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
    if (address.selector == kPropertyDevices) {
        std::vector<SinkRecord> sinks;
        std::vector<SourceRecord> sources;
        if (const Status status = fetchSinks(queries_, sinks); status != kNoError) return status;
        if (const Status status = fetchSources(queries_, sources); status != kNoError) return status;
        std::vector<ObjectID> ids;
        for (const SinkRecord& sink : sinks) ids.push_back(sink.id);
        for (const SourceRecord& source : sources) ids.push_back(source.id);
        const std::size_t count = std::min<std::size_t>(ids.size(), ioDataSize / sizeof(ObjectID));
        if (count > 0) std::memcpy(data, ids.data(), count * sizeof(ObjectID));
        ioDataSize = static_cast<std::uint32_t>(count * sizeof(ObjectID));
        return kNoError;
    }
    ServerInfoRequest request;
    if (const Status status = fetchDefaults(queries_, request); status != kNoError) return status;
    const bool output = address.selector == kPropertyDefaultOutputDevice;
    const std::optional<std::string>& name = output ? request.defaultSink : request.defaultSource;
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
    DeviceRecord device;
    if (const Status status = findDevice(queries_, object, device); status != kNoError) return status;
    if (!deviceHas(device, address)) return kErrorUnknownProperty;

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
    DeviceRecord device;
    if (const Status status = findDevice(queries_, object, device); status != kNoError) return status;
    if (!deviceHas(device, address)) return kErrorUnknownProperty;
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
    DeviceRecord device;
    if (const Status status = findDevice(queries_, id, device); status != kNoError) return status;
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
        return setSystemProperty(address, dataSize, data);
    }
    DeviceRecord device;
    if (const Status status = findDevice(queries_, object, device); status != kNoError) return status;
    if (!deviceHas(device, address)) return kErrorUnknownProperty;
    const auto* sink = std::get_if<SinkRecord>(&device);
    if (sink == nullptr || address.selector == kPropertyName || address.selector == kPropertyDeviceUID ||
        address.selector == kPropertyStreamConfiguration) {
        return kErrorIllegalOperation;
    }
    if (dataSize != 4) return kErrorBadPropertySize;

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
