#include "harkline/Transcription/TranscriptionPipeline.h"

#include <exception>
#include <string>

#include "harkline/Runtime/NumberFormatting.h"

namespace harkline {

AsyncStream<ResultPayload> TranscriptionPipeline::process(AsyncStream<ByteChunk> stream) const {
    logger_.info("转写管线开始运行，sampleRate=" + formatFloatingPoint(config_.sampleRate) +
                 "，bytes/frame=" + std::to_string(config_.bytesPerFrame()));
    std::optional<AsyncStream<AudioPCMBuffer>> buffers;
    try {
        buffers.emplace(pcmBuilder_.makeStream(std::move(stream)));
    } catch (const std::exception& failure) {
        logger_.error(std::string("转写管线出错: ") + failure.what());
        return AsyncStream<ResultPayload>::failed(std::current_exception());
    }
    auto backendResults = backend_->run(std::move(*buffers));
    auto giveUpBackend = [backendChannel = backendResults.channel()] { backendChannel->cancel(); };
    auto forward = [results = std::move(backendResults), logger = logger_](Channel<ResultPayload>& output) mutable {
        auto backendStream = std::move(results);
        try {
            while (auto result = backendStream.next()) {
                logger.debug(std::string("接收到转写结果 isFinal=") + (result->isFinal ? "true" : "false") +
                             " bytesProcessed=" + std::to_string(result->bytesProcessed.value_or(-1)));
                output.send(std::move(*result));
            }
            if (output.isCancelled()) return;
            logger.info("转写管线正常结束");
            output.finish();
        } catch (const std::exception& failure) {
            logger.error(std::string("转写管线出错: ") + failure.what());
            output.fail(std::current_exception());
        }
    };
    return AsyncStream<ResultPayload>::spawn(std::move(forward), std::move(giveUpBackend));
}

}  // namespace harkline
