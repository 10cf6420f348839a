#include "harkline/Audio/PCMBuffer.h"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace harkline {

std::optional<PCMBuffer> PCMBuffer::make(std::uint32_t frameCapacity) {
    try {
        return PCMBuffer(frameCapacity);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
}

void PCMBuffer::setFrameLength(std::uint32_t frameLength) { frameLength_ = std::min(frameLength, frameCapacity()); }

}  // namespace harkline
