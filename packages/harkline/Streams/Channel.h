#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <utility>

namespace harkline {

// How much a channel holds before its producer waits: `limit` units, a value weighing
// `weigh(value)` units (one when no weight is given). Unbounded by default.
template <typename T>
struct ChannelCapacity {
    std::size_t limit = std::numeric_limits<std::size_t>::max();
    std::function<std::size_t(const T&)> weigh;
};

// A thread-safe queue between one producer and one consumer. The producer sends values
// and then finishes, normally or with an error; while the queue is at its capacity a
// send waits for the consumer (back-pressure). The consumer receives the values in
// order and then sees the end (or the error). The consumer may give up (cancel): queued
// values are dropped, a waiting send returns at once and later sends are refused, so a
// producer can notice that nobody listens any more.
template <typename T>
class Channel {
public:
    explicit Channel(ChannelCapacity<T> capacity = {}) : capacity_(std::move(capacity)) {}
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // False when the channel has ended or was given up; the value is dropped then.
    bool send(T value) {
        auto weight = weigh(value);
        {
            std::unique_lock lock(mutex_);
            // A value heavier than the whole capacity still passes through an empty queue.
            space_.wait(lock, [&] {
                return state_ != State::open || held_ == 0 ||
                       (held_ < capacity_.limit && capacity_.limit - held_ >= weight);
            });
            if (state_ != State::open) return false;
            queue_.push_back(std::move(value));
            held_ += weight;
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
            held_ -= weigh(value);
            // A waiting producer resumes once half the capacity is free, not at every value,
            // so that the two threads do not take turns for each one.
            bool wakeProducer = held_ <= capacity_.limit / 2;
            lock.unlock();
            if (wakeProducer) space_.notify_one();
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
            if (state == State::cancelled) {
                dropped.swap(queue_);
                held_ = 0;
            }
            handler = std::move(terminationHandler_);
        }
        ready_.notify_all();
        space_.notify_all();
        // Outside the lock: the handler may end other channels or wake other threads.
        if (handler) handler();
    }

    std::size_t weigh(const T& value) const { return capacity_.weigh ? capacity_.weigh(value) : 1; }

    const ChannelCapacity<T> capacity_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::condition_variable space_;
    std::deque<T> queue_;
    std::size_t held_ = 0;
    State state_ = State::open;
    std::exception_ptr error_;
    std::function<void()> terminationHandler_;
};

}  // namespace harkline
