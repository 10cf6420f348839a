#include "audio-hardware/PulseAudio/PulseServerState.h"

#include "audio-hardware/PulseAudio/DeviceIds.h"

namespace audiohw {

namespace {

std::optional<std::string> optionalText(const char* text) {
    return text == nullptr ? std::nullopt : std::optional<std::string>(text);
}

struct ServerInfoRequest : PulseRequest {
    PulseServerState* state = nullptr;
    bool answered = false;
};

struct SinkListRequest : PulseRequest {
    PulseServerState* state = nullptr;
    bool failed = false;
};

struct SourceListRequest : PulseRequest {
    PulseServerState* state = nullptr;
    bool failed = false;
};

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    auto* request = static_cast<ServerInfoRequest*>(userdata);
    if (info != nullptr) {
        request->answered = true;
        request->state->defaultSink = optionalText(info->default_sink_name);
        request->state->defaultSource = optionalText(info->default_source_name);
    }
    request->finish();
}

void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* request = static_cast<SinkListRequest*>(userdata);
    if (info != nullptr) {
        request->state->sinks.push_back(
            {sinkDeviceID(info->name), info->name, optionalText(info->description), info->volume, info->mute != 0});
        return;
    }
    request->failed = eol < 0;
    request->finish();
}

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* request = static_cast<SourceListRequest*>(userdata);
    if (info != nullptr) {
        if (info->monitor_of_sink == PA_INVALID_INDEX) {
            request->state->sources.push_back({sourceDeviceID(info->name), info->name,
                                               optionalText(info->description), info->channel_map.channels});
        }
        return;
    }
    request->failed = eol < 0;
    request->finish();
}

}  // namespace

bool PulseServerState::fetch(PulseQueryConnection& connection, PulseServerState& state) {
    return fetch([&](std::initializer_list<PulseOperation> operations) { return connection.perform(operations); },
                 state);
}

bool PulseServerState::fetch(const PerformOperations& perform, PulseServerState& state) {
    state = {};
    ServerInfoRequest server;
    SinkListRequest sinks;
    SourceListRequest sources;
    server.state = sinks.state = sources.state = &state;
    const bool answered = perform({
        {server, [&](pa_context* context) { return pa_context_get_server_info(context, onServerInfo, &server); }},
        {sinks, [&](pa_context* context) { return pa_context_get_sink_info_list(context, onSinkInfo, &sinks); }},
        {sources,
         [&](pa_context* context) { return pa_context_get_source_info_list(context, onSourceInfo, &sources); }},
    });
    return answered && server.answered && !sinks.failed && !sources.failed;
}

}  // namespace audiohw
