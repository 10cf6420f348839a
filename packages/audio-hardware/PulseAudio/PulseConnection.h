#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <optional>
#include <set>
#include <string>

#include "audio-hardware/AudioHardware.h"
#include "audio-hardware/PulseAudio/NotificationThread.h"

namespace audiohw {

class PulseConnection;

// One request in flight. Its libpulse callback runs on the mainloop thread and ends it
// with finish().
struct PulseRequest {
    PulseConnection* connection = nullptr;
    bool finished = false;

    void finish();
};

struct PulseConnectionOptions {
    std::string applicationName;
    std::optional<std::string> server;  // libpulse picks the server when absent
};

// A libpulse context on a threaded mainloop that keeps itself connected: when the server
// goes away it tries again every quarter second. Server events become notifications in the
// order the server sent them: device list ('dev#') for sinks and non-monitor sources coming
// or going, default input ('dIn ') and output ('dOut') when the server's defaults change,
// and lost / restored (with the device list) for the connection itself.
class PulseConnection {
public:
    // `post` runs on the mainloop thread and must not block.
    PulseConnection(PulseConnectionOptions options, std::function<void(Notification)> post);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Starts one operation (`start` runs under the mainloop lock and returns it, or null
    // when libpulse refused to start it) and waits for its callback to finish `request`.
    // kErrorNotRunning when there is no connection, it drops, or no answer comes in time.
    Status perform(PulseRequest& request, const std::function<pa_operation*(pa_context*)>& start);

private:
    friend struct PulseRequest;
    enum class State { connecting, ready, down };

    // Notifications wait here until the server's answers they depend on have come.
    struct PendingEvent {
        enum class Kind { initialDefaults, defaultsChanged, initialSources, sourceAdded, plain };
        PulseConnection* owner = nullptr;
        Kind kind = Kind::plain;
        Notification notification;
        bool ready = false;
    };

    // All of the following run under the mainloop lock.
    void connect();
    void scheduleReconnect();
    void handleReady();
    void handleFailure();
    void handleEvent(pa_subscription_event_type_t type, std::uint32_t index);
    PendingEvent& enqueue(PendingEvent::Kind kind, Notification notification = {}, bool ready = false);
    void flush();

    static void onStateChange(pa_context* context, void* userdata);
    static void onEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
                        void* userdata);
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* userdata);
    static void onSourceInfo(pa_context* context, const pa_source_info* info, int eol, void* userdata);
    static void onReconnectTimer(pa_mainloop_api* api, pa_time_event* event, const struct timeval* time,
                                 void* userdata);

    const PulseConnectionOptions options_;
    const std::function<void(Notification)> post_;
    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_time_event* reconnectTimer_ = nullptr;
    State state_ = State::connecting;
    std::uint64_t generation_ = 0;  // counts failures; waiters on a failed context give up
    bool closing_ = false;
    bool announcedDown_ = false;  // "lost" was posted and "restored" is owed
    std::condition_variable_any wake_;
    std::list<PendingEvent> pending_;  // a list, so callbacks may hold an element's address
    std::set<std::uint32_t> monitorSources_;
    std::optional<std::string> defaultSink_;
    std::optional<std::string> defaultSource_;
};

}  // namespace audiohw
