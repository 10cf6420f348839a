#include "audio-hardware/PulseAudio/PulseQueryConnection.h"

#include <algorithm>
#include <utility>

#include "audio-hardware/PulseAudio/PulseLock.h"

namespace audiohw {

namespace {

// Every call answers within a second, even when the server hangs.
constexpr std::chrono::milliseconds kAnswerTimeout{900};

}  // namespace

StartedOperations::StartedOperations(pa_context* context, std::initializer_list<PulseOperation> operations)
    : operations_(operations) {
    for (const PulseOperation& operation : operations_) {
        // Answered before an earlier connection died: asking again would add to its answer.
        if (operation.request.finished) continue;
        pa_operation* running = operation.start(context);
        if (running == nullptr) {
            refused_ = true;
            return;
        }
        running_.push_back(running);
    }
}

StartedOperations::~StartedOperations() {
    for (pa_operation* running : running_) {
        if (pa_operation_get_state(running) == PA_OPERATION_RUNNING) pa_operation_cancel(running);
        pa_operation_unref(running);
    }
}

bool StartedOperations::allFinished() const {
    return std::all_of(operations_.begin(), operations_.end(),
                       [](const PulseOperation& operation) { return operation.request.finished; });
}

PulseQueryConnection::PulseQueryConnection(PulseConnectionOptions options)
    : options_(std::move(options)), mutex_(pulseMutex()) {
    std::lock_guard lock(mutex_);
    mainloop_ = pa_mainloop_new();
}

PulseQueryConnection::~PulseQueryConnection() {
    std::lock_guard lock(mutex_);
    disconnect();
    if (mainloop_ != nullptr) pa_mainloop_free(mainloop_);
}

bool PulseQueryConnection::perform(PulseRequest& request,
                                     const std::function<pa_operation*(pa_context*)>& start) {
    return perform({PulseOperation{request, start}});
}

bool PulseQueryConnection::perform(std::initializer_list<PulseOperation> operations) {
    std::lock_guard lock(mutex_);
    if (mainloop_ == nullptr) return false;
    const Deadline deadline = std::chrono::steady_clock::now() + kAnswerTimeout;
    // A connection made by an earlier call may have died with a server restart; that shows
    // only now, and then one fresh connection is tried.
    const bool reused = contextIsGood();
    for (int attempt = reused ? 0 : 1; attempt < 2; ++attempt) {
        if (!contextIsGood() && !connect(deadline)) return false;
        {
            const StartedOperations started(context_, operations);
            if (started.refused()) {
                if (contextIsGood()) return false;
                continue;
            }
            while (!started.allFinished() && contextIsGood() && runOnce(deadline)) {
            }
            if (started.allFinished()) return true;
        }
        // A server that did not answer in time is not trusted with the next call either.
        const bool died = !contextIsGood();
        disconnect();
        if (!died) return false;
    }
    return false;
}

bool PulseQueryConnection::connect(Deadline deadline) {
    disconnect();
    context_ = pa_context_new(pa_mainloop_get_api(mainloop_), options_.applicationName.c_str());
    if (context_ == nullptr) return false;
    const char* server = options_.server ? options_.server->c_str() : nullptr;
    // Never start a server: a tool must not leave one behind.
    if (pa_context_connect(context_, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        disconnect();
        return false;
    }
    while (pa_context_get_state(context_) != PA_CONTEXT_READY) {
        if (!contextIsGood() || !runOnce(deadline)) {
            disconnect();
            return false;
        }
    }
    return true;
}

void PulseQueryConnection::disconnect() {
    if (context_ == nullptr) return;
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

bool PulseQueryConnection::runOnce(Deadline deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    return pa_mainloop_prepare(mainloop_, static_cast<int>(left.count())) >= 0 && pa_mainloop_poll(mainloop_) >= 0 &&
           pa_mainloop_dispatch(mainloop_) >= 0;
}

bool PulseQueryConnection::contextIsGood() const {
    return context_ != nullptr && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
}

}  // namespace audiohw
