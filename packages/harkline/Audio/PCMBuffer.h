#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace harkline {

// A block of 16-bit mono samples, with a capacity fixed at creation and a count of valid
// frames. Moved, never copied, along the transcription path.
class PCMBuffer {
public:
    // None when the storage cannot be allocated.
    static std::optional<PCMBuffer> make(std::uint32_t frameCapacity);

    PCMBuffer(PCMBuffer&&) noexcept = default;
    PCMBuffer& operator=(PCMBuffer&&) noexcept = default;
    PCMBuffer(const PCMBuffer&) = delete;
    PCMBuffer& operator=(const PCMBuffer&) = delete;

    std::uint32_t frameCapacity() const { return static_cast<std::uint32_t>(samples_.size()); }
    std::uint32_t frameLength() const { return frameLength_; }
    // Clamped to the capacity.
    void setFrameLength(std::uint32_t frameLength);

    std::int16_t* samples() { return samples_.data(); }
    const std::int16_t* samples() const { return samples_.data(); }

private:
    explicit PCMBuffer(std::uint32_t frameCapacity) : samples_(frameCapacity) {}

    std::vector<std::int16_t> samples_;
    std::uint32_t frameLength_ = 0;
};

}  // namespace harkline
