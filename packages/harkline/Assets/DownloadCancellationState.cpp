#include "harkline/Assets/DownloadCancellationState.h"

namespace harkline {

void DownloadCancellationState::monitorForCancellation(const DownloadCancellationToken& token, const cli::Logger& logger,
                                                       const std::function<void()>& cancelProgress,
                                                       const StopSignal& stop) {
    bool strangeMarkerLogged = false;
    while (!stop.stopRequested()) {
        auto marker = token.marker();
        if (marker == DownloadCancellationToken::Marker::notAFile && !strangeMarkerLogged) {
            logger.error("忽略不是普通文件的下载取消标记: " + token.fileURL().string());
            strangeMarkerLogged = true;
        }
        if (marker != DownloadCancellationToken::Marker::present) {
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
