#pragma once

#include <cstddef>
#include <cstdint>

namespace harkline {

// The format of the audio on standard input and the largest buffer handed on.
struct AudioStreamConfig {
    double sampleRate = 16000.0;
    std::uint32_t channels = 1;
    int bitDepth = 16;
    int maxFramesPerBuffer = 2048;

    // Buffers that may wait between two stages of the transcription chain before the
    // earlier stage waits for the later one.
    static constexpr std::size_t maxQueuedBuffers = 8;

    int bytesPerFrame() const { return static_cast<int>(channels) * (bitDepth / 8); }
    std::size_t bytesPerSecond() const { return static_cast<std::size_t>(sampleRate) * static_cast<std::size_t>(bytesPerFrame()); }
};

}  // namespace harkline
