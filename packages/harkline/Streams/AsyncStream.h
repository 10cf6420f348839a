#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "harkline/Streams/Channel.h"

namespace harkline {

// The consumer's end of a Channel together with the thread that produces into it.
// Destroying the stream gives it up (cancel) and waits for that thread, so a producer
// never outlives its consumer's interest. Producers that read another stream own it,
// which makes a whole chain of stages wind down from its last consumer.
template <typename T>
class AsyncStream {
public:
    // Starts `produce(channel)` on a thread of its own. `onTermination` runs once when
    // the channel ends for any reason; stages use it to give up their own input when
    // their consumer gives up. An exception escaping `produce` fails the stream.
    // `capacity` bounds what the channel holds: the producer then waits for the consumer.
    template <typename Produce>
    static AsyncStream spawn(Produce produce, std::function<void()> onTermination = {},
                             ChannelCapacity<T> capacity = {}) {
        auto channel = std::make_shared<Channel<T>>(std::move(capacity));
        if (onTermination) channel->onTermination(std::move(onTermination));
        std::thread worker([channel, produce = std::move(produce)]() mutable {
            try {
                produce(*channel);
            } catch (...) {
                channel->fail(std::current_exception());
            }
        });
        return AsyncStream(std::move(channel), std::move(worker));
    }

    // A stream with no producer thread that has already ended with `error`.
    static AsyncStream failed(std::exception_ptr error) {
        auto channel = std::make_shared<Channel<T>>();
        channel->fail(std::move(error));
        return AsyncStream(std::move(channel), std::thread());
    }

    AsyncStream(AsyncStream&& other) noexcept = default;
    AsyncStream& operator=(AsyncStream&& other) noexcept {
        if (this != &other) {
            stop();
            channel_ = std::move(other.channel_);
            worker_ = std::move(other.worker_);
        }
        return *this;
    }
    AsyncStream(const AsyncStream&) = delete;
    AsyncStream& operator=(const AsyncStream&) = delete;
    ~AsyncStream() { stop(); }

    // Next value; nullopt at the end; throws the error the stream ended with.
    std::optional<T> next() { return channel_->receive(); }

    // Gives the stream up without waiting; safe from any thread.
    void cancel() { channel_->cancel(); }

    // Lets a stage give this stream up from a termination handler of its own.
    std::shared_ptr<Channel<T>> channel() const { return channel_; }

private:
    AsyncStream(std::shared_ptr<Channel<T>> channel, std::thread worker)
        : channel_(std::move(channel)), worker_(std::move(worker)) {}

    void stop() {
        if (channel_) channel_->cancel();
        if (worker_.joinable()) worker_.join();
    }

    std::shared_ptr<Channel<T>> channel_;
    std::thread worker_;
};

}  // namespace harkline
