#pragma once

#include <chrono>
#include <functional>
#include <mutex>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Assets/BackgroundTask.h"
#include "harkline/Assets/DownloadCancellationToken.h"

namespace harkline {

// Whether the cancel marker was seen during one installation. One per installation.
class DownloadCancellationState {
public:
    static constexpr std::chrono::milliseconds pollInterval{200};

    bool isCancelled() const {
        std::lock_guard lock(mutex_);
        return cancelled_;
    }

    // The cancellation watcher: polls for the marker until it appears or `stop` is
    // requested. On the marker it records the cancel, logs it and calls `cancelProgress`,
    // in that order, once; the marker stays where it is. Something in the marker's place
    // that is not a file is logged once and otherwise ignored.
    void monitorForCancellation(const DownloadCancellationToken& token, const cli::Logger& logger,
                                const std::function<void()>& cancelProgress, const StopSignal& stop);

private:
    mutable std::mutex mutex_;
    bool cancelled_ = false;
};

}  // namespace harkline
