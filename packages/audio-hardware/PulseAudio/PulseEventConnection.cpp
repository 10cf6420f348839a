#include "audio-hardware/PulseAudio/PulseEventConnection.h"

#include "audio-hardware/PulseAudio/PulseLock.h"

#include <poll.h>

#include <algorithm>
#include <utility>

namespace audiohw {

namespace {

constexpr pa_usec_t kReconnectDelay = 250 * PA_USEC_PER_MSEC;

std::optional<std::string> optionalText(const char* text) {
    return text == nullptr ? std::nullopt : std::optional<std::string>(text);
}

// Lets go of a request libpulse started; an event whose request it would not start waits
// for no answer and is ready as it stands.
void awaitAnswer(pa_operation* operation, bool& ready) {
    if (operation != nullptr) {
        pa_operation_unref(operation);
    } else {
        ready = true;
    }
}

}  // namespace

PulseEventConnection::PulseEventConnection(PulseConnectionOptions options, std::function<void(Notification)> post)
    : options_(std::move(options)), post_(std::move(post)), mutex_(pulseMutex()) {
    {
        std::lock_guard lock(mutex_);
        mainloop_ = pa_mainloop_new();
        if (mainloop_ == nullptr) {
            state_ = State::down;
            return;
        }
        pa_mainloop_set_poll_func(mainloop_, pollUnlocked, this);
        connect();
    }
    thread_ = std::thread([this] { runMainloop(); });
}

PulseEventConnection::~PulseEventConnection() {
    if (mainloop_ == nullptr) return;
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        if (reconnectTimer_ != nullptr) pa_mainloop_get_api(mainloop_)->time_free(reconnectTimer_);
        if (context_ != nullptr) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_set_subscribe_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
        }
        pending_.clear();
        pa_mainloop_quit(mainloop_, 0);
    }
    wake_.notify_all();
    thread_.join();
    std::lock_guard lock(mutex_);
    if (context_ != nullptr) pa_context_unref(context_);
    pa_mainloop_free(mainloop_);
}

void PulseEventConnection::runMainloop() {
    std::unique_lock lock(mutex_);
    pa_mainloop_run(mainloop_, nullptr);
}

int PulseEventConnection::pollUnlocked(struct pollfd* descriptors, unsigned long count, int timeout, void* userdata) {
    auto* self = static_cast<PulseEventConnection*>(userdata);
    // Callbacks may have finished a waiter's requests: let waiters look before the thread sleeps.
    self->wake_.notify_all();
    self->mutex_.unlock();
    const int result = poll(descriptors, count, timeout);
    self->mutex_.lock();
    return result;
}

void PulseEventConnection::synchronize(std::chrono::steady_clock::time_point deadline,
                                      std::chrono::steady_clock::time_point slowServerDeadline) {
    if (mainloop_ == nullptr || std::this_thread::get_id() == thread_.get_id()) return;
    std::unique_lock lock(mutex_);
    const auto until = [&] { return serverAnswered_ ? slowServerDeadline : deadline; };
    while (state_ == State::connecting && !closing_ && std::chrono::steady_clock::now() < until()) {
        wake_.wait_until(lock, until());
    }
    if (state_ == State::ready) {
        struct ServerInfoRequest : PulseRequest {
        } answer;
        const auto answered = [](pa_context*, const pa_server_info*, void* data) {
            static_cast<ServerInfoRequest*>(data)->finish();
        };
        const auto limit = until();
        lock.unlock();
        perform({{answer, [&](pa_context* context) { return pa_context_get_server_info(context, answered, &answer); }}},
                limit);
        lock.lock();
    }
    if (state_ != State::ready && !announcedDown_) listOwed_ = true;
}

bool PulseEventConnection::perform(std::initializer_list<PulseOperation> operations,
                                   std::chrono::steady_clock::time_point deadline) {
    if (mainloop_ == nullptr || std::this_thread::get_id() == thread_.get_id()) return false;
    std::unique_lock lock(mutex_);
    if (state_ != State::ready || closing_) return false;
    const StartedOperations started(context_, operations);
    const std::uint64_t generation = generation_;
    while (!started.refused() && !started.allFinished() && generation_ == generation && !closing_) {
        if (wake_.wait_until(lock, deadline) == std::cv_status::timeout) break;
    }
    return !started.refused() && started.allFinished();
}

void PulseEventConnection::connect() {
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    state_ = State::connecting;
    serverAnswered_ = false;
    context_ = pa_context_new(pa_mainloop_get_api(mainloop_), options_.applicationName.c_str());
    if (context_ == nullptr) {
        handleFailure();
        return;
    }
    pa_context_set_state_callback(context_, onStateChange, this);
    const char* server = options_.server ? options_.server->c_str() : nullptr;
    // Never start a server: a tool must not leave one behind.
    if (pa_context_connect(context_, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) handleFailure();
}

void PulseEventConnection::scheduleReconnect() {
    pa_mainloop_api* api = pa_mainloop_get_api(mainloop_);
    struct timeval when {};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, kReconnectDelay);
    if (reconnectTimer_ == nullptr) {
        reconnectTimer_ = api->time_new(api, &when, onReconnectTimer, this);
    } else {
        api->time_restart(reconnectTimer_, &when);
    }
}

void PulseEventConnection::handleReady() {
    state_ = State::ready;
    wake_.notify_all();
    const bool restored = announcedDown_;

    pa_context_set_subscribe_callback(context_, onEvent, this);
    const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE |
                                                          PA_SUBSCRIPTION_MASK_SERVER);
    if (pa_operation* operation = pa_context_subscribe(context_, mask, nullptr, nullptr)) {
        pa_operation_unref(operation);
    }
    // What later events are compared with: which sources are monitors, and the defaults,
    // asked for in this order so that a restored connection is told before what changed.
    Notification afterRestart;
    if (restored) {
        afterRestart = {HardwareChange::serverRestored, HardwareChange::devices};
    } else if (listOwed_) {
        afterRestart = {HardwareChange::devices};
    }
    listOwed_ = false;
    PendingEvent& sources = enqueue(PendingEvent::Kind::initialSources, std::move(afterRestart));
    awaitAnswer(pa_context_get_source_info_list(context_, onSourceInfo, &sources), sources.ready);
    PendingEvent& defaults = enqueue(PendingEvent::Kind::initialDefaults);
    awaitAnswer(pa_context_get_server_info(context_, onServerInfo, &defaults), defaults.ready);
    flush();
}

void PulseEventConnection::handleFailure() {
    if (state_ == State::down) return;
    state_ = State::down;
    ++generation_;
    wake_.notify_all();
    // Answers to the failed context's requests never come; what is known is still told.
    for (PendingEvent& event : pending_) {
        if (event.ready) post(std::move(event.notification));
    }
    pending_.clear();
    monitorSources_.clear();
    if (closing_) return;
    if (!announcedDown_) {
        announcedDown_ = true;
        post_({HardwareChange::serverLost});
    }
    scheduleReconnect();
}

void PulseEventConnection::handleEvent(pa_subscription_event_type_t type, std::uint32_t index) {
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
        if (kind != PA_SUBSCRIPTION_EVENT_CHANGE) enqueue(PendingEvent::Kind::plain, {HardwareChange::devices}, true);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE) {
        if (kind == PA_SUBSCRIPTION_EVENT_NEW) {
            // Only the source itself tells whether it is a sink's monitor.
            PendingEvent& added = enqueue(PendingEvent::Kind::sourceAdded);
            if (pa_operation* operation = pa_context_get_source_info_by_index(context_, index, onSourceInfo, &added)) {
                pa_operation_unref(operation);
            } else {
                added.notification = {HardwareChange::devices};
                added.ready = true;
            }
        } else if (kind == PA_SUBSCRIPTION_EVENT_REMOVE && monitorSources_.erase(index) == 0) {
            enqueue(PendingEvent::Kind::plain, {HardwareChange::devices}, true);
        }
    } else if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        PendingEvent& changed = enqueue(PendingEvent::Kind::defaultsChanged);
        awaitAnswer(pa_context_get_server_info(context_, onServerInfo, &changed), changed.ready);
    }
    flush();
}

PulseEventConnection::PendingEvent& PulseEventConnection::enqueue(PendingEvent::Kind kind, Notification notification,
                                                        bool ready) {
    pending_.push_back(PendingEvent{this, kind, std::move(notification), ready});
    return pending_.back();
}

void PulseEventConnection::flush() {
    while (!pending_.empty() && pending_.front().ready) {
        Notification notification = std::move(pending_.front().notification);
        pending_.pop_front();
        post(std::move(notification));
    }
}

void PulseEventConnection::post(Notification notification) {
    if (notification.empty()) return;
    // "restored" is owed until it has been told, even across a connection that failed again.
    if (std::find(notification.begin(), notification.end(), HardwareChange::serverRestored) != notification.end()) {
        announcedDown_ = false;
    }
    post_(std::move(notification));
}

void PulseEventConnection::onStateChange(pa_context* context, void* userdata) {
    auto* self = static_cast<PulseEventConnection*>(userdata);
    if (context != self->context_) return;
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_SETTING_NAME:
            // The server answered the authentication: it is there, however slow.
            self->serverAnswered_ = true;
            self->wake_.notify_all();
            break;
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

void PulseEventConnection::onEvent(pa_context*, pa_subscription_event_type_t type, std::uint32_t index, void* userdata) {
    static_cast<PulseEventConnection*>(userdata)->handleEvent(type, index);
}

void PulseEventConnection::onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    auto* event = static_cast<PendingEvent*>(userdata);
    PulseEventConnection* self = event->owner;
    if (info != nullptr) {
        auto sink = optionalText(info->default_sink_name);
        auto source = optionalText(info->default_source_name);
        // On a fresh connection, only defaults known from before can have changed.
        if (event->kind == PendingEvent::Kind::defaultsChanged || self->defaultsKnown_) {
            auto& changes = event->notification;
            if (source != self->defaultSource_) changes.push_back(HardwareChange::defaultInput);
            if (sink != self->defaultSink_) changes.push_back(HardwareChange::defaultOutput);
        }
        self->defaultsKnown_ = true;
        self->defaultSink_ = std::move(sink);
        self->defaultSource_ = std::move(source);
    }
    event->ready = true;
    self->flush();
}

void PulseEventConnection::onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* event = static_cast<PendingEvent*>(userdata);
    PulseEventConnection* self = event->owner;
    const bool added = event->kind == PendingEvent::Kind::sourceAdded;
    if (info != nullptr) {
        if (info->monitor_of_sink != PA_INVALID_INDEX) {
            self->monitorSources_.insert(info->index);
        } else if (added) {
            event->notification = {HardwareChange::devices};
        }
        return;
    }
    // A source gone before it could be looked at may still have been a device.
    if (eol < 0 && added) event->notification = {HardwareChange::devices};
    event->ready = true;
    self->flush();
}

void PulseEventConnection::onReconnectTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* self = static_cast<PulseEventConnection*>(userdata);
    if (!self->closing_) self->connect();
}

}  // namespace audiohw
