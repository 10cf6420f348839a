#include "harkline/Commands/AssetsCancelCommand.h"

#include "harkline/Commands/AssetPayloads.h"

namespace harkline {

int AssetsCancelCommand::run() {
    context_.logger.info("执行 assets.cancel 指令");
    // Without a marker the download runs on; the answer stays the same, the log says why.
    if (auto failure = token_.requestCancel())
        context_.logger.error("写入下载取消标记失败 " + token_.fileURL().string() + ": " + *failure);
    context_.emitter.emitStatus({
        .stage = "download-cancelled",
        .code = "apple_download_cancelled",
        .data = DownloadStatusPayload{"unknown", 0},
    });
    return 0;
}

}  // namespace harkline
