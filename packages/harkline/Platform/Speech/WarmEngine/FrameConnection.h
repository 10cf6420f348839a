#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace harkline {

// What a frame between a dictation and the warm engine carries. Each request of the
// dictation gets one answer, in order.
enum class FrameKind : std::uint8_t {
    hello = 1,   // both ways first: the protocol both ends speak
    open,        // dictation: the installed model to decode with (JSON)
    opened,      // engine: the stream is ready (JSON: whether the model was loaded for it)
    samples,     // dictation: 16-bit samples as they lie in memory
    finish,      // dictation: the stretch fed so far is over
    hypotheses,  // engine: what a samples or finish frame brought (JSON)
    failure,     // engine: the request failed, with the reason as text
    state,       // dictation: what does the engine hold? engine: the answer (JSON)
};

struct Frame {
    FrameKind kind = FrameKind::hello;
    std::string payload;
};

// One end of a connected stream socket that carries frames (a 4-byte little-endian
// length, a kind byte, the payload). Every wait ends at its deadline: a peer that stops
// answering costs a bounded time, never a hang.
class FrameConnection {
public:
    using Clock = std::chrono::steady_clock;
    // Anything longer is not one of our frames; it also bounds what a peer can make us hold.
    static constexpr std::size_t largestPayload = 1 << 20;

    // Takes over the descriptor, which it makes non-blocking.
    explicit FrameConnection(int descriptor);
    ~FrameConnection();
    FrameConnection(FrameConnection&& other) noexcept;
    FrameConnection& operator=(FrameConnection&& other) noexcept;
    FrameConnection(const FrameConnection&) = delete;
    FrameConnection& operator=(const FrameConnection&) = delete;

    int descriptor() const { return descriptor_; }

    // False when the peer is gone or did not take the frame before the deadline.
    bool send(const Frame& frame, Clock::time_point deadline);
    // The next frame; none when the peer is gone, sent something that is not a frame, or
    // nothing whole came before the deadline (Clock::time_point::max(): no deadline).
    std::optional<Frame> receive(Clock::time_point deadline);

private:
    bool writeAll(const char* bytes, std::size_t size, Clock::time_point deadline);
    bool readAll(char* bytes, std::size_t size, Clock::time_point deadline);
    bool waitFor(short events, Clock::time_point deadline) const;

    int descriptor_ = -1;
};

}  // namespace harkline
