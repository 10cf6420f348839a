#pragma once

#include <mutex>

namespace harkline {

// The last progress fraction `assets.download` reported, shared between the progress
// reporter's thread and the command's own.
class DownloadProgressStore {
public:
    void update(double value) {
        std::lock_guard lock(mutex_);
        value_ = value;
    }
    double current() const {
        std::lock_guard lock(mutex_);
        return value_;
    }

private:
    mutable std::mutex mutex_;
    double value_ = 0;
};

}  // namespace harkline
