#pragma once

#include <cstdint>
#include <mutex>

namespace harkline {

// Frames handed to the speech analyzer so far, shared by the thread that feeds it and
// the thread that takes its results.
class FrameCounter {
public:
    explicit FrameCounter(std::int64_t bytesPerFrame) : bytesPerFrame_(bytesPerFrame) {}

    void add(std::int64_t frameCount) {
        std::lock_guard lock(mutex_);
        frames_ += frameCount;
    }
    std::int64_t byteCount() const {
        std::lock_guard lock(mutex_);
        return frames_ * bytesPerFrame_;
    }

private:
    const std::int64_t bytesPerFrame_;
    mutable std::mutex mutex_;
    std::int64_t frames_ = 0;
};

}  // namespace harkline
