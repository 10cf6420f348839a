#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <stop_token>
#include <thread>
#include <utility>

#include "harkline/Streams/Channel.h"

namespace harkline {

// The consumer's end of a Channel together with the thread that produces into it.
// Destroying the stream asks that thread to stop and waits for it, so a producer never
// outlives its consumer's interest.
template <typename T>
class AsyncStream {
public:
    // Starts `produce(channel, stopToken)` on a thread of its own; the producer stops
    // soon after a stop is requested. An exception escaping `produce` fails the stream.
    // `capacity` bounds what the channel holds: the producer then waits for the consumer.
    template <typename Produce>
    static AsyncStream spawn(Produce produce, ChannelCapacity<T> capacity = {}) {
        auto channel = std::make_shared<Channel<T>>(std::move(capacity));
        std::jthread worker([channel, produce = std::move(produce)](std::stop_token stop) mutable {
            try {
                produce(*channel, stop);
            } catch (...) {
                channel->fail(std::current_exception());
            }
        });
        return AsyncStream(std::move(channel), std::move(worker));
    }

    AsyncStream(AsyncStream&&) noexcept = default;
    AsyncStream& operator=(AsyncStream&&) noexcept = default;

    // Next value; nullopt at the end; throws the error the stream ended with.
    std::optional<T> next() { return channel_->receive(); }
    // As next(), without waiting: false while nothing has arrived yet.
    bool tryNext(std::optional<T>& value) { return channel_->tryReceive(value); }

private:
    AsyncStream(std::shared_ptr<Channel<T>> channel, std::jthread worker)
        : channel_(std::move(channel)), worker_(std::move(worker)) {}

    std::shared_ptr<Channel<T>> channel_;
    std::jthread worker_;  // last: stopped and joined first
};

}  // namespace harkline
