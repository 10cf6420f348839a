#include "audio-hardware/PulseAudio/PulseConnection.h"

#include <utility>

namespace audiohw {

namespace {

// Every call answers within a second, even when the server hangs.
constexpr std::chrono::milliseconds kAnswerTimeout{900};
constexpr pa_usec_t kReconnectDelay = 250 * PA_USEC_PER_MSEC;

// The mainloop's lock as a BasicLockable, so a condition variable can wait on it.
class MainloopLock {
public:
    explicit MainloopLock(pa_threaded_mainloop* mainloop) : mainloop_(mainloop) { lock(); }
    ~MainloopLock() {
        if (locked_) unlock();
    }
    MainloopLock(const MainloopLock&) = delete;
    MainloopLock& operator=(const MainloopLock&) = delete;

    void lock() {
        pa_threaded_mainloop_lock(mainloop_);
        locked_ = true;
    }
    void unlock() {
        locked_ = false;
        pa_threaded_mainloop_unlock(mainloop_);
    }

private:
    pa_threaded_mainloop* mainloop_;
    bool locked_ = false;
};

std::optional<std::string> optionalText(const char* text) {
    return text == nullptr ? std::nullopt : std::optional<std::string>(text);
}

}  // namespace

void PulseRequest::finish() {
    finished = true;
    connection->wake_.notify_all();
}

PulseConnection::PulseConnection(PulseConnectionOptions options, std::function<void(Notification)> post)
    : options_(std::move(options)), post_(std::move(post)), mainloop_(pa_threaded_mainloop_new()) {
    if (mainloop_ == nullptr || pa_threaded_mainloop_start(mainloop_) < 0) {
        if (mainloop_ != nullptr) pa_threaded_mainloop_free(mainloop_);
        mainloop_ = nullptr;
        state_ = State::down;
        return;
    }
    MainloopLock lock(mainloop_);
    connect();
}

PulseConnection::~PulseConnection() {
    if (mainloop_ == nullptr) return;
    {
        MainloopLock lock(mainloop_);
        closing_ = true;
        if (reconnectTimer_ != nullptr) pa_threaded_mainloop_get_api(mainloop_)->time_free(reconnectTimer_);
        if (context_ != nullptr) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_set_subscribe_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
        }
        pending_.clear();
    }
    wake_.notify_all();
    pa_threaded_mainloop_stop(mainloop_);
    if (context_ != nullptr) pa_context_unref(context_);
    pa_threaded_mainloop_free(mainloop_);
}

Status PulseConnection::perform(PulseRequest& request, const std::function<pa_operation*(pa_context*)>& start) {
    if (mainloop_ == nullptr) return kErrorNotRunning;
    // Waiting here would stop the very thread that has to answer.
    if (pa_threaded_mainloop_in_thread(mainloop_)) return kErrorIllegalOperation;
    const auto deadline = std::chrono::steady_clock::now() + kAnswerTimeout;
    MainloopLock lock(mainloop_);
    while (state_ == State::connecting && !closing_) {
        if (wake_.wait_until(lock, deadline) == std::cv_status::timeout) break;
    }
    if (state_ != State::ready || closing_) return kErrorNotRunning;

    request.connection = this;
    pa_operation* operation = start(context_);
    if (operation == nullptr) return kErrorUnspecified;
    const std::uint64_t generation = generation_;
    while (!request.finished && generation_ == generation && !closing_) {
        if (wake_.wait_until(lock, deadline) == std::cv_status::timeout) break;
    }
    // Once cancelled under the lock, the callback can no longer reach `request`.
    if (!request.finished) pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return request.finished ? kNoError : kErrorNotRunning;
}

void PulseConnection::connect() {
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    state_ = State::connecting;
    context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), options_.applicationName.c_str());
    if (context_ == nullptr) {
        handleFailure();
        return;
    }
    pa_context_set_state_callback(context_, onStateChange, this);
    const char* server = options_.server ? options_.server->c_str() : nullptr;
    // Never start a server: a tool must not leave one behind.
    if (pa_context_connect(context_, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) handleFailure();
}

void PulseConnection::scheduleReconnect() {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    struct timeval when {};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, kReconnectDelay);
    if (reconnectTimer_ == nullptr) {
        reconnectTimer_ = api->time_new(api, &when, onReconnectTimer, this);
    } else {
        api->time_restart(reconnectTimer_, &when);
    }
}

void PulseConnection::handleReady() {
    state_ = State::ready;
    wake_.notify_all();
    const bool restored = std::exchange(announcedDown_, false);

    pa_context_set_subscribe_callback(context_, onEvent, this);
    const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE |
                                                          PA_SUBSCRIPTION_MASK_SERVER);
    if (pa_operation* operation = pa_context_subscribe(context_, mask, nullptr, nullptr)) {
        pa_operation_unref(operation);
    }
    // What later events are compared with: the defaults and which sources are monitors.
    PendingEvent& defaults = enqueue(PendingEvent::Kind::initialDefaults);
    if (pa_operation* operation = pa_context_get_server_info(context_, onServerInfo, &defaults)) {
        pa_operation_unref(operation);
    } else {
        defaults.ready = true;
    }
    Notification afterRestart;
    if (restored) afterRestart = {ServerConnection::restored, {kPropertyDevices}};
    PendingEvent& sources = enqueue(PendingEvent::Kind::initialSources, std::move(afterRestart));
    if (pa_operation* operation = pa_context_get_source_info_list(context_, onSourceInfo, &sources)) {
        pa_operation_unref(operation);
    } else {
        sources.ready = true;
    }
    flush();
}

void PulseConnection::handleFailure() {
    if (state_ == State::down) return;
    state_ = State::down;
    ++generation_;
    wake_.notify_all();
    // Answers to the failed context's requests never come; what is known is still told.
    for (PendingEvent& event : pending_) {
        if (event.ready && (event.notification.connection || !event.notification.changedSelectors.empty())) {
            post_(std::move(event.notification));
        }
    }
    pending_.clear();
    monitorSources_.clear();
    if (closing_) return;
    if (!announcedDown_) {
        announcedDown_ = true;
        post_({ServerConnection::lost, {}});
    }
    scheduleReconnect();
}

void PulseConnection::handleEvent(pa_subscription_event_type_t type, std::uint32_t index) {
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
        if (kind != PA_SUBSCRIPTION_EVENT_CHANGE) enqueue(PendingEvent::Kind::plain, {{}, {kPropertyDevices}}, true);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE) {
        if (kind == PA_SUBSCRIPTION_EVENT_NEW) {
            // Only the source itself tells whether it is a sink's monitor.
            PendingEvent& added = enqueue(PendingEvent::Kind::sourceAdded);
            if (pa_operation* operation = pa_context_get_source_info_by_index(context_, index, onSourceInfo, &added)) {
                pa_operation_unref(operation);
            } else {
                added.notification.changedSelectors = {kPropertyDevices};
                added.ready = true;
            }
        } else if (kind == PA_SUBSCRIPTION_EVENT_REMOVE && monitorSources_.erase(index) == 0) {
            enqueue(PendingEvent::Kind::plain, {{}, {kPropertyDevices}}, true);
        }
    } else if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        PendingEvent& changed = enqueue(PendingEvent::Kind::defaultsChanged);
        if (pa_operation* operation = pa_context_get_server_info(context_, onServerInfo, &changed)) {
            pa_operation_unref(operation);
        } else {
            changed.ready = true;
        }
    }
    flush();
}

PulseConnection::PendingEvent& PulseConnection::enqueue(PendingEvent::Kind kind, Notification notification,
                                                        bool ready) {
    pending_.push_back(PendingEvent{this, kind, std::move(notification), ready});
    return pending_.back();
}

void PulseConnection::flush() {
    while (!pending_.empty() && pending_.front().ready) {
        Notification notification = std::move(pending_.front().notification);
        pending_.pop_front();
        if (notification.connection || !notification.changedSelectors.empty()) post_(std::move(notification));
    }
}

void PulseConnection::onStateChange(pa_context* context, void* userdata) {
    auto* self = static_cast<PulseConnection*>(userdata);
    if (context != self->context_) return;
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            self->handleReady();
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            self->handleFailure();
            break;
        default:
            break;
    }
}

void PulseConnection::onEvent(pa_context*, pa_subscription_event_type_t type, std::uint32_t index, void* userdata) {
    static_cast<PulseConnection*>(userdata)->handleEvent(type, index);
}

void PulseConnection::onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    auto* event = static_cast<PendingEvent*>(userdata);
    PulseConnection* self = event->owner;
    if (info != nullptr) {
        auto sink = optionalText(info->default_sink_name);
        auto source = optionalText(info->default_source_name);
        if (event->kind == PendingEvent::Kind::defaultsChanged) {
            auto& selectors = event->notification.changedSelectors;
            if (source != self->defaultSource_) selectors.push_back(kPropertyDefaultInputDevice);
            if (sink != self->defaultSink_) selectors.push_back(kPropertyDefaultOutputDevice);
        }
        self->defaultSink_ = std::move(sink);
        self->defaultSource_ = std::move(source);
    }
    event->ready = true;
    self->flush();
}

void PulseConnection::onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* event = static_cast<PendingEvent*>(userdata);
    PulseConnection* self = event->owner;
    const bool added = event->kind == PendingEvent::Kind::sourceAdded;
    if (info != nullptr) {
        if (info->monitor_of_sink != PA_INVALID_INDEX) {
            self->monitorSources_.insert(info->index);
        } else if (added) {
            event->notification.changedSelectors = {kPropertyDevices};
        }
        return;
    }
    // A source gone before it could be looked at may still have been a device.
    if (eol < 0 && added) event->notification.changedSelectors = {kPropertyDevices};
    event->ready = true;
    self->flush();
}

void PulseConnection::onReconnectTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* self = static_cast<PulseConnection*>(userdata);
    if (!self->closing_) self->connect();
}

}  // namespace audiohw
