#include "harkline/Commands/AssetsCancelCommand.h"

#include "harkline/Commands/AssetPayloads.h"
#include "harkline/Runtime/CLIMessages.h"

namespace harkline {

void AssetsCancelCommand::run() {
    context_.logger.info("执行 assets.cancel 指令");
    token_.requestCancel();
    context_.emitter.emit(cli::CLIMessage::status(StatusPayload{
        .stage = "download-cancelled",
        .code = "apple_download_cancelled",
        .logPath = context_.emitter.logPath(),
        .data = DownloadStatusPayload{"unknown", 0},
    }));
}

}  // namespace harkline
