#pragma once

#include <cstdint>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Audio/AudioPCMBuffer.h"
#include "harkline/Audio/AudioStreamConfig.h"
#include "harkline/Streams/AsyncStream.h"
#include "harkline/Streams/StandardInputStream.h"

namespace harkline {

// Cuts raw 16-bit little-endian mono PCM, split into chunks anywhere (even inside a
// sample), into audio buffers of whole frames, at most maxFramesPerBuffer each. Bytes of
// an incomplete frame wait for the next chunk; at the end of input they are completed
// with zero bytes into one last frame.
class PCMBufferStreamBuilder {
public:
    PCMBufferStreamBuilder(AudioStreamConfig config, cli::Logger logger)
        : config_(config), logger_(std::move(logger)) {}

    // Owns `input` from here on. Throws CLIError::unsupportedChannelCount unless mono.
    AsyncStream<AudioPCMBuffer> makeStream(AsyncStream<ByteChunk> input) const;

    // One buffer of `frameCount` frames from the first frameCount × 2 bytes of `bytes`.
    // Throws CLIError::invalidPCMFrame or CLIError::bufferAllocationFailed.
    static AudioPCMBuffer makeBuffer(const std::uint8_t* bytes, std::size_t byteCount, std::uint32_t frameCount,
                                     const AudioFormat& format);

    const AudioStreamConfig& config() const { return config_; }

private:
    AudioStreamConfig config_;
    cli::Logger logger_;
};

}  // namespace harkline
