#include "harkline/Audio/AudioPCMBuffer.h"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace harkline {

std::optional<AudioPCMBuffer> AudioPCMBuffer::make(const AudioFormat& format, std::uint32_t frameCapacity) {
    try {
        return AudioPCMBuffer(format, frameCapacity);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
}

AudioPCMBuffer::AudioPCMBuffer(const AudioFormat& format, std::uint32_t frameCapacity)
    : format_(format), frameCapacity_(frameCapacity),
      channels_(format.channelCount, std::vector<std::int16_t>(frameCapacity)) {}

void AudioPCMBuffer::setFrameLength(std::uint32_t frameLength) { frameLength_ = std::min(frameLength, frameCapacity_); }

std::int16_t* AudioPCMBuffer::int16ChannelData(std::uint32_t channel) {
    return channel < channels_.size() ? channels_[channel].data() : nullptr;
}

const std::int16_t* AudioPCMBuffer::int16ChannelData(std::uint32_t channel) const {
    return channel < channels_.size() ? channels_[channel].data() : nullptr;
}

}  // namespace harkline
