#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace audiohw {

struct PulseConnectionOptions {
    std::string applicationName;
    std::optional<std::string> server;  // libpulse picks the server when absent
};

// One request in flight; its libpulse callback ends it with finish().
struct PulseRequest {
    bool finished = false;

    void finish() { finished = true; }
};

// A request and how to start it: `start` returns the operation, or null when libpulse
// refused to start it.
struct PulseOperation {
    PulseRequest& request;
    std::function<pa_operation*(pa_context*)> start;
};

// Operations started together on one context, under the libpulse lock. Requests finished
// already are not asked again. At its end, the operations still running are cancelled, so
// no callback can reach their requests any more.
class StartedOperations {
public:
    StartedOperations(pa_context* context, std::initializer_list<PulseOperation> operations);
    ~StartedOperations();
    StartedOperations(const StartedOperations&) = delete;
    StartedOperations& operator=(const StartedOperations&) = delete;

    bool refused() const { return refused_; }  // libpulse would not start one of them
    bool allFinished() const;

private:
    std::initializer_list<PulseOperation> operations_;
    std::vector<pa_operation*> running_;
    bool refused_ = false;
};

// The connection that answers reads and writes. The calling thread runs the mainloop itself
// while it waits, as pactl does, so a call costs no thread switches. It connects on the
// first call and again after the server went away. Calls take turns, with each other and
// with the event connection's thread.
class PulseQueryConnection {
public:
    explicit PulseQueryConnection(PulseConnectionOptions options);
    ~PulseQueryConnection();
    PulseQueryConnection(const PulseQueryConnection&) = delete;
    PulseQueryConnection& operator=(const PulseQueryConnection&) = delete;

    // Starts one operation and runs the mainloop until its callback has finished the
    // request. False when the server cannot be reached, refuses to start the operation or
    // does not answer within the time a call may take.
    bool perform(PulseRequest& request, const std::function<pa_operation*(pa_context*)>& start);
    // The same for several operations sent together, so their answers cost one wait for the
    // server instead of one each. True only when every request has finished.
    bool perform(std::initializer_list<PulseOperation> operations);

private:
    using Deadline = std::chrono::steady_clock::time_point;

    // All of the following run under `mutex_`.
    bool connect(Deadline deadline);
    void disconnect();
    bool runOnce(Deadline deadline);  // one mainloop pass; false when time is up or it failed
    bool contextIsGood() const;

    const PulseConnectionOptions options_;
    std::mutex& mutex_;  // the process's libpulse lock, held for the whole call
    pa_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
};

}  // namespace audiohw
