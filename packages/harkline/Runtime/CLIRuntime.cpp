#include "harkline/Runtime/CLIRuntime.h"

#include <string>

#include "harkline/Runtime/CLIMessages.h"

namespace harkline {
namespace {

constexpr int standardInputChunkSize = 4096;

}  // namespace

CLIRuntime::Outcome CLIRuntime::run() const {
    logger_.info("CLIRuntime run 启动");
    emitter_.emitStatus({.stage = "booting"});
    std::int64_t lastKnownByteCount = 0;
    try {
        auto input = inputFactory_.makeStream(standardInputChunkSize);
        logger_.info("输入流创建成功");
        emitter_.emitStatus({.stage = "ready"});

        pipeline_.process(std::move(input), [&](ResultPayload result) {
            logger_.debug(std::string("发送结果 isFinal=") + (result.isFinal ? "true" : "false") + " bytesProcessed=" +
                          std::to_string(result.bytesProcessed.value_or(lastKnownByteCount)));
            if (result.bytesProcessed) lastKnownByteCount = *result.bytesProcessed;
            emitter_.emit(cli::CLIMessage::result(std::move(result)));
        });
    } catch (const std::exception& failure) {
        // Every stage has stopped by now, the reader included.
        logger_.error(std::string("CLIRuntime 捕获错误: ") + failure.what());
        emitter_.emitFailure(failure, "apple_transcribe_failed");
        return Outcome::failed;
    }
    emitter_.emitStatus({.stage = "input-stream-closed", .bytesProcessed = lastKnownByteCount});
    logger_.info("CLIRuntime 正常结束 bytesProcessed=" + std::to_string(lastKnownByteCount));
    return Outcome::closed;
}

}  // namespace harkline
