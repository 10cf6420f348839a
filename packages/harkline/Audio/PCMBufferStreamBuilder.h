#pragma once

#include <cstdint>
#include <deque>
#include <exception>
#include <optional>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Audio/PCMBuffer.h"
#include "harkline/Audio/AudioStreamConfig.h"
#include "harkline/Streams/AsyncStream.h"
#include "harkline/Streams/StandardInputStream.h"

namespace harkline {

// Audio buffers of whole frames, at most maxFramesPerBuffer each, cut from a stream of
// raw 16-bit little-endian mono PCM chunks split anywhere (even inside a sample). Bytes
// of an incomplete frame wait for the next chunk; at the end of input they are completed
// with zero bytes into one last frame. Taken by the thread that decodes them, which waits
// only when no buffer is ready; chunks already read are cut ahead, up to
// AudioStreamConfig::maxBuffersAhead buffers.
class PCMBufferStream {
public:
    PCMBufferStream(AsyncStream<ByteChunk> input, std::size_t bytesPerFrame,
                    std::size_t maxFramesPerBuffer, cli::Logger logger);

    // The next buffer; nullopt at the end of input. Throws the input's error, or the
    // conversion's, once the buffers made before it have been taken.
    std::optional<PCMBuffer> next();

    // Bytes of all buffers cut so far, handed out or ready.
    std::int64_t bytesCut() const { return frameTotal_ * static_cast<std::int64_t>(bytesPerFrame_); }

private:
    void cutAhead();
    void accept(std::optional<ByteChunk> chunk);
    void cutWholeFrames();

    AsyncStream<ByteChunk> input_;
    std::size_t bytesPerFrame_;
    std::size_t maxFramesPerBuffer_;
    cli::Logger logger_;
    ByteChunk pending_;
    std::deque<PCMBuffer> ready_;
    bool inputEnded_ = false;
    std::exception_ptr failure_;
    std::int64_t chunkCount_ = 0;
    std::int64_t bufferCount_ = 0;
    std::int64_t frameTotal_ = 0;
};

// Makes the PCMBufferStream of a configuration.
class PCMBufferStreamBuilder {
public:
    PCMBufferStreamBuilder(AudioStreamConfig config, cli::Logger logger)
        : config_(config), logger_(std::move(logger)) {}

    // Owns `input` from here on. Throws CLIError::unsupportedChannelCount unless mono.
    PCMBufferStream makeStream(AsyncStream<ByteChunk> input) const;

    // One buffer of `frameCount` frames from the first frameCount × 2 bytes of `bytes`.
    // Throws CLIError::invalidPCMFrame or CLIError::bufferAllocationFailed.
    static PCMBuffer makeBuffer(const std::uint8_t* bytes, std::size_t byteCount, std::uint32_t frameCount);

    const AudioStreamConfig& config() const { return config_; }

private:
    AudioStreamConfig config_;
    cli::Logger logger_;
};

}  // namespace harkline
