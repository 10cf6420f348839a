#pragma once

#include <cstdint>

namespace harkline {

// The format of the audio on standard input and the largest buffer handed on.
struct AudioStreamConfig {
    double sampleRate = 16000.0;
    std::uint32_t channels = 1;
    int bitDepth = 16;
    int maxFramesPerBuffer = 2048;

    int bytesPerFrame() const { return static_cast<int>(channels) * (bitDepth / 8); }
};

}  // namespace harkline
