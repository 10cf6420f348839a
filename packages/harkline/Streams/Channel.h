#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

namespace harkline {

// A thread-safe, unbounded queue between one producer and one consumer. The producer
// never waits: it sends values and then finishes, normally or with an error. The
// consumer receives them in order and then sees the end (or the error). The consumer
// may give up (cancel): queued values are dropped and later sends are refused, so a
// producer can notice that nobody listens any more.
template <typename T>
class Channel {
public:
    Channel() = default;
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // False when the channel has ended or was given up; the value is dropped then.
    bool send(T value) {
        {
            std::lock_guard lock(mutex_);
            if (state_ != State::open) return false;
            queue_.push_back(std::move(value));
        }
        ready_.notify_one();
        return true;
    }

    void finish() { terminate(State::finished, nullptr); }
    void fail(std::exception_ptr error) { terminate(State::failed, std::move(error)); }

    // The consumer gives up; a consumer blocked in receive() returns at once.
    void cancel() { terminate(State::cancelled, nullptr); }

    // Waits for the next value. Returns nullopt at the normal end and after cancel();
    // throws the producer's error once the values sent before it have been received.
    std::optional<T> receive() {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return !queue_.empty() || state_ != State::open; });
        if (state_ == State::cancelled) return std::nullopt;
        if (!queue_.empty()) {
            T value = std::move(queue_.front());
            queue_.pop_front();
            return value;
        }
        if (state_ == State::failed) std::rethrow_exception(error_);
        return std::nullopt;
    }

    bool isCancelled() const {
        std::lock_guard lock(mutex_);
        return state_ == State::cancelled;
    }

    // Runs `handler` once when the channel ends for any reason (finish, fail, cancel),
    // on the thread that ends it; at once if it has already ended.
    void onTermination(std::function<void()> handler) {
        {
            std::lock_guard lock(mutex_);
            if (state_ == State::open) {
                terminationHandler_ = std::move(handler);
                return;
            }
        }
        handler();
    }

private:
    enum class State { open, finished, failed, cancelled };

    void terminate(State state, std::exception_ptr error) {
        std::function<void()> handler;
        std::deque<T> dropped;
        {
            std::lock_guard lock(mutex_);
            if (state_ != State::open) return;
            state_ = state;
            error_ = std::move(error);
            if (state == State::cancelled) dropped.swap(queue_);
            handler = std::move(terminationHandler_);
        }
        ready_.notify_all();
        // Outside the lock: the handler may end other channels or wake other threads.
        if (handler) handler();
    }

    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<T> queue_;
    State state_ = State::open;
    std::exception_ptr error_;
    std::function<void()> terminationHandler_;
};

}  // namespace harkline
