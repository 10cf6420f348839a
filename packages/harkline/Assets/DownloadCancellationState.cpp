#include "harkline/Assets/DownloadCancellationState.h"

namespace harkline {

void DownloadCancellationState::monitorForCancellation(const DownloadCancellationToken& token, const cli::Logger& logger,
                                                       const std::function<void()>& cancelProgress,
                                                       const StopSignal& stop) {
    while (!stop.stopRequested()) {
        if (!token.isRequested()) {
            stop.sleepFor(pollInterval);
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            cancelled_ = true;
        }
        logger.info("检测到下载取消请求，准备取消 AssetInstallationRequest");
        cancelProgress();
        return;
    }
}

}  // namespace harkline
