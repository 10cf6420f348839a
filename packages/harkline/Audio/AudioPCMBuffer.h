#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace harkline {

enum class AudioCommonFormat { pcmFormatInt16 };

// Describes the samples of an AudioPCMBuffer.
struct AudioFormat {
    AudioCommonFormat commonFormat = AudioCommonFormat::pcmFormatInt16;
    double sampleRate = 16000.0;
    std::uint32_t channelCount = 1;
    bool interleaved = false;

    bool operator==(const AudioFormat&) const = default;
};

// A block of 16-bit samples, one array per channel (not interleaved), with a capacity
// fixed at creation and a count of valid frames. Moved, never copied, along the
// transcription path.
class AudioPCMBuffer {
public:
    // None when the storage cannot be allocated.
    static std::optional<AudioPCMBuffer> make(const AudioFormat& format, std::uint32_t frameCapacity);

    AudioPCMBuffer(AudioPCMBuffer&&) noexcept = default;
    AudioPCMBuffer& operator=(AudioPCMBuffer&&) noexcept = default;
    AudioPCMBuffer(const AudioPCMBuffer&) = delete;
    AudioPCMBuffer& operator=(const AudioPCMBuffer&) = delete;

    const AudioFormat& format() const { return format_; }
    std::uint32_t frameCapacity() const { return frameCapacity_; }
    std::uint32_t frameLength() const { return frameLength_; }
    // Clamped to the capacity.
    void setFrameLength(std::uint32_t frameLength);

    // Samples of one channel; null for a channel the buffer does not have.
    std::int16_t* int16ChannelData(std::uint32_t channel);
    const std::int16_t* int16ChannelData(std::uint32_t channel) const;

private:
    AudioPCMBuffer(const AudioFormat& format, std::uint32_t frameCapacity);

    AudioFormat format_;
    std::uint32_t frameCapacity_;
    std::uint32_t frameLength_ = 0;
    std::vector<std::vector<std::int16_t>> channels_;
};

}  // namespace harkline
