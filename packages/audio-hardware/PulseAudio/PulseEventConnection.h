#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <list>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "audio-hardware/AudioHardware.h"
#include "audio-hardware/PulseAudio/NotificationThread.h"
#include "audio-hardware/PulseAudio/PulseQueryConnection.h"

namespace audiohw {

// A libpulse context on a mainloop of its own thread that keeps itself connected: when the
// server goes away it tries again every quarter second. Server events become notifications
// in the order the server sent them: `devices` for sinks and non-monitor sources coming or
// going, `defaultInput` and `defaultOutput` when the server's defaults change, and
// serverLost / serverRestored for the connection itself, the latter followed by `devices`
// and by the defaults that changed while the server was away.
class PulseEventConnection {
public:
    // `post` runs on the mainloop thread and must not block.
    PulseEventConnection(PulseConnectionOptions options, std::function<void(Notification)> post);
    ~PulseEventConnection();
    PulseEventConnection(const PulseEventConnection&) = delete;
    PulseEventConnection& operator=(const PulseEventConnection&) = delete;

    // Returns once the subscription is active, or the server cannot be reached, or at the
    // deadline: the context subscribes before its first request, so one answered request
    // proves it. A server that has answered the connection's handshake by `deadline` is
    // alive, only slow, and is waited for until `slowServerDeadline`. When it returns before
    // the first connection is up, that connection reports the device list once it is: what
    // changed in between was not heard.
    void synchronize(std::chrono::steady_clock::time_point deadline,
                     std::chrono::steady_clock::time_point slowServerDeadline);
    // Sends the operations on this connection and waits for their answers, which therefore
    // reflect every event heard before. False when the connection is not up, refuses an
    // operation, fails or does not answer by the deadline. Not for the mainloop's thread.
    bool perform(std::initializer_list<PulseOperation> operations, std::chrono::steady_clock::time_point deadline);

private:
    enum class State { connecting, ready, down };

    // Notifications wait here until the server's answers they depend on have come.
    struct PendingEvent {
        enum class Kind { initialDefaults, defaultsChanged, initialSources, sourceAdded, plain };
        PulseEventConnection* owner = nullptr;
        Kind kind = Kind::plain;
        Notification notification;
        bool ready = false;
    };

    void runMainloop();
    static int pollUnlocked(struct pollfd* descriptors, unsigned long count, int timeout, void* userdata);

    // All of the following run under `mutex_`.
    void connect();
    void scheduleReconnect();
    void handleReady();
    void handleFailure();
    void handleEvent(pa_subscription_event_type_t type, std::uint32_t index);
    PendingEvent& enqueue(PendingEvent::Kind kind, Notification notification = {}, bool ready = false);
    void flush();
    void post(Notification notification);

    static void onStateChange(pa_context* context, void* userdata);
    static void onEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
                        void* userdata);
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* userdata);
    static void onSourceInfo(pa_context* context, const pa_source_info* info, int eol, void* userdata);
    static void onReconnectTimer(pa_mainloop_api* api, pa_time_event* event, const struct timeval* time,
                                 void* userdata);

    const PulseConnectionOptions options_;
    const std::function<void(Notification)> post_;
    // The process's libpulse lock; the mainloop's thread lets go of it only while it waits
    // in poll(). (libpulse's own threaded mainloop works the same way, but hides its lock
    // from ThreadSanitizer.)
    std::mutex& mutex_;
    std::condition_variable wake_;
    pa_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_time_event* reconnectTimer_ = nullptr;
    State state_ = State::connecting;
    std::uint64_t generation_ = 0;  // counts failures; waiters on a failed context give up
    bool closing_ = false;
    bool announcedDown_ = false;  // "lost" was posted and "restored" is owed
    bool serverAnswered_ = false;  // the present context's handshake has had an answer
    bool listOwed_ = false;  // a watch started before the first connection was up
    std::list<PendingEvent> pending_;  // a list, so callbacks may hold an element's address
    std::set<std::uint32_t> monitorSources_;
    // The server's defaults as last heard, kept while it is away to tell what changed meanwhile.
    bool defaultsKnown_ = false;
    std::optional<std::string> defaultSink_;
    std::optional<std::string> defaultSource_;
    std::thread thread_;  // runs the mainloop; started once the first connection attempt is made
};

}  // namespace audiohw
