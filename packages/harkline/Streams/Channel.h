#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <stop_token>
#include <utility>

namespace harkline {

// How much a channel holds before its producer waits: `limit` units, a value weighing
// `weigh(value)` units (one when no weight is given). Unbounded by default.
template <typename T>
struct ChannelCapacity {
    std::size_t limit = std::numeric_limits<std::size_t>::max();
    std::function<std::size_t(const T&)> weigh;
};

// A thread-safe queue from one producer thread to one consumer. The producer sends values
// and then finishes, normally or with an error; while the queue is at its capacity a
// send waits for the consumer (back-pressure) or for a stop request. The consumer
// receives the values in order and then sees the end (or the error).
template <typename T>
class Channel {
public:
    explicit Channel(ChannelCapacity<T> capacity = {}) : capacity_(std::move(capacity)) {}
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // False when `stop` was requested before there was room; the value is dropped then.
    bool send(T value, std::stop_token stop) {
        auto weight = weigh(value);
        {
            std::unique_lock lock(mutex_);
            // A value heavier than the whole capacity still passes through an empty queue.
            bool room = space_.wait(lock, stop, [&] {
                return held_ == 0 || (held_ < capacity_.limit && capacity_.limit - held_ >= weight);
            });
            if (!room) return false;
            queue_.push_back(std::move(value));
            held_ += weight;
        }
        ready_.notify_one();
        return true;
    }

    void finish() { end(nullptr); }
    void fail(std::exception_ptr error) { end(std::move(error)); }

    // Waits for the next value. Returns nullopt at the normal end; throws the producer's
    // error once the values sent before it have been received.
    std::optional<T> receive() {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return !queue_.empty() || ended_; });
        return take(lock);
    }

    // As receive(), without waiting: false, and `value` untouched, while nothing is queued
    // and the channel goes on.
    bool tryReceive(std::optional<T>& value) {
        std::unique_lock lock(mutex_);
        if (queue_.empty() && !ended_) return false;
        value = take(lock);
        return true;
    }

private:
    std::optional<T> take(std::unique_lock<std::mutex>& lock) {
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
        if (error_) std::rethrow_exception(error_);
        return std::nullopt;
    }

    void end(std::exception_ptr error) {
        {
            std::lock_guard lock(mutex_);
            if (ended_) return;
            ended_ = true;
            error_ = std::move(error);
        }
        ready_.notify_all();
    }

    std::size_t weigh(const T& value) const { return capacity_.weigh ? capacity_.weigh(value) : 1; }

    const ChannelCapacity<T> capacity_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::condition_variable_any space_;
    std::deque<T> queue_;
    std::size_t held_ = 0;
    bool ended_ = false;
    std::exception_ptr error_;
};

}  // namespace harkline
