#include "harkline/Assets/DownloadCancellationState.h"

namespace harkline {

bool DownloadCancellationState::lookForCancellation() {
    if (cancelled_) return true;
    auto marker = token_.marker();
    if (marker == DownloadCancellationToken::Marker::notAFile && !strangeMarkerLogged_) {
        logger_.error("忽略不是普通文件的下载取消标记: " + token_.fileURL().string());
        strangeMarkerLogged_ = true;
    }
    if (marker != DownloadCancellationToken::Marker::present) return false;
    cancelled_ = true;
    logger_.info("检测到下载取消请求，准备取消 AssetInstallationRequest");
    return true;
}

}  // namespace harkline
