#include "harkline/Transcription/TranscriptionPipeline.h"

#include <exception>
#include <string>

#include "harkline/Runtime/NumberFormatting.h"

namespace harkline {

void TranscriptionPipeline::process(AsyncStream<ByteChunk> stream, const ResultHandler& onResult) const {
    logger_.info("转写管线开始运行，sampleRate=" + formatFloatingPoint(config_.sampleRate) +
                 "，bytes/frame=" + std::to_string(config_.bytesPerFrame()));
    try {
        auto buffers = pcmBuilder_.makeStream(std::move(stream));
        backend_->run(buffers, [&](ResultPayload result) {
            logger_.debug(std::string("接收到转写结果 isFinal=") + (result.isFinal ? "true" : "false") +
                          " bytesProcessed=" + std::to_string(result.bytesProcessed.value_or(-1)));
            onResult(std::move(result));
        });
    } catch (const std::exception& failure) {
        logger_.error(std::string("转写管线出错: ") + failure.what());
        throw;
    }
    logger_.info("转写管线正常结束");
}

}  // namespace harkline
