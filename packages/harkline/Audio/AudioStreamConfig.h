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

    // Buffers cut ahead of the one being decoded, from audio already read: the audio
    // handed on to the decoder, which the results count.
    static constexpr std::size_t maxBuffersAhead = 16;

    int bytesPerFrame() const { return static_cast<int>(channels) * (bitDepth / 8); }
    std::size_t bytesPerSecond() const { return static_cast<std::size_t>(sampleRate) * static_cast<std::size_t>(bytesPerFrame()); }
};

}  // namespace harkline
