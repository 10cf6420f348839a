#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace harkline {

// The request to stop that a background task checks; its sleeps end as soon as it is made.
class StopSignal {
public:
    void requestStop() {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        changed_.notify_all();
    }
    bool stopRequested() const {
        std::lock_guard lock(mutex_);
        return stopped_;
    }
    // Sleeps for `duration`; false when a stop was requested before or during the sleep.
    bool sleepFor(std::chrono::nanoseconds duration) const {
        std::unique_lock lock(mutex_);
        return !changed_.wait_for(lock, duration, [this] { return stopped_; });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopped_ = false;
};

// A thread running `body` with its own stop signal. It never outlives its owner: the
// destructor stops it and waits for it.
class BackgroundTask {
public:
    explicit BackgroundTask(std::function<void(const StopSignal&)> body)
        : thread_([this, body = std::move(body)] { body(signal_); }) {}
    BackgroundTask(const BackgroundTask&) = delete;
    BackgroundTask& operator=(const BackgroundTask&) = delete;
    ~BackgroundTask() { stopAndWait(); }

    void stop() { signal_.requestStop(); }
    // Returns once the body has returned.
    void stopAndWait() {
        stop();
        if (thread_.joinable()) thread_.join();
    }

private:
    StopSignal signal_;  // declared first: the thread uses it from its first instruction
    std::thread thread_;
};

}  // namespace harkline
