#pragma once

#include "cli-frame/Logging/Logger.h"
#include "harkline/Assets/DownloadCancellationToken.h"

namespace harkline {

// Whether the cancel marker was seen during one installation. One per installation, used on
// the installing thread.
class DownloadCancellationState {
public:
    DownloadCancellationState(DownloadCancellationToken token, cli::Logger logger)
        : token_(std::move(token)), logger_(std::move(logger)) {}

    bool isCancelled() const { return cancelled_; }

    // The cancellation watcher's look at the marker, made whenever it may have appeared.
    // On the marker it records the cancel and logs it, once; the marker stays where it is.
    // Something in the marker's place that is not a file is logged once and otherwise
    // ignored. Returns whether the installation is to be cancelled.
    bool lookForCancellation();

private:
    DownloadCancellationToken token_;
    cli::Logger logger_;
    bool cancelled_ = false;
    bool strangeMarkerLogged_ = false;
};

}  // namespace harkline
