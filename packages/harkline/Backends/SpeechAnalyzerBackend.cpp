#include "harkline/Backends/SpeechAnalyzerBackend.h"

#include <exception>
#include <string>
#include <thread>

#include "harkline/Runtime/CharacterCount.h"
#include "harkline/Runtime/CLIError.h"
#include "harkline/Runtime/NumberFormatting.h"

namespace harkline {
namespace {

const char* boolText(bool value) { return value ? "true" : "false"; }

}  // namespace

AsyncStream<ResultPayload> SpeechAnalyzerBackend::run(AsyncStream<AudioPCMBuffer> bufferStream) const {
    auto giveUpAudio = [bufferChannel = bufferStream.channel()] { bufferChannel->cancel(); };
    // The thread works on its own copy: the stream may outlive this backend value.
    auto analyze = [backend = *this, buffers = std::move(bufferStream)](Channel<ResultPayload>& output) mutable {
        backend.runAnalyzer(std::move(buffers), output);
    };
    return AsyncStream<ResultPayload>::spawn(std::move(analyze), std::move(giveUpAudio));
}

void SpeechAnalyzerBackend::runAnalyzer(AsyncStream<AudioPCMBuffer> bufferStream, Channel<ResultPayload>& output) const {
    if (!platform_->isTranscriberAvailable()) {
        logger_.error("SpeechTranscriber 当前不可用，无法启动 Apple 后端");
        throw CLIError(CLIError::Case::backendUnavailable);
    }
    auto locale = resolveLocale(localeIdentifier_);
    logger_.info("AppleSpeechAnalyzer 启动，locale=" + locale + " preset=" + describe(preset_));
    auto transcriber = platform_->makeTranscriber(locale, preset_);
    auto analyzer = platform_->makeAnalyzer(transcriber);
    auto counter = std::make_shared<FrameCounter>(config_.bytesPerFrame());

    logger_.info("调用 prepareToAnalyze，sampleRate=" + formatFloatingPoint(config_.sampleRate));
    analyzer->load(AudioFormat{AudioCommonFormat::pcmFormatInt16, config_.sampleRate, config_.channels, false});
    auto inputSequence = makeAnalyzerInputStream(std::move(bufferStream), counter);
    logger_.info("开始 start(inputSequence:)");

    // The analysis runs on this thread; the results are taken on a child thread meanwhile.
    std::atomic<bool> resultsCancelled{false};
    std::exception_ptr resultsFailure;
    std::thread resultsChild([&] {
        try {
            emitResults(*transcriber, output, *counter, resultsCancelled);
        } catch (...) {
            resultsFailure = std::current_exception();
        }
    });
    auto stopResultsChild = [&] {
        if (!resultsChild.joinable()) return;
        resultsCancelled = true;
        transcriber->results()->cancel();
        resultsChild.join();
    };
    try {
        analyzer->feed(inputSequence);
        logger_.info("音频输入发送完成，调用 finalizeAndFinishThroughEndOfInput");
        analyzer->finish();
        logger_.info("finalizeAndFinishThroughEndOfInput 完成，等待结果流结束");
        resultsChild.join();
        if (resultsFailure) std::rethrow_exception(resultsFailure);
    } catch (const std::exception& failure) {
        logger_.error(std::string("SpeechAnalyzer 运行抛出错误: ") + failure.what());
        stopResultsChild();
        throw;
    } catch (...) {
        stopResultsChild();
        throw;
    }
    logger_.info("SpeechAnalyzer start + finalize 完成");
    output.finish();
}

std::string SpeechAnalyzerBackend::resolveLocale(const std::string& requested) const {
    if (auto matched = platform_->supportedLocale(requested)) {
        if (*matched != requested) logger_.info("Locale " + requested + " 匹配为 " + *matched);
        return *matched;
    }
    if (auto fallback = platform_->supportedLocale("en-US")) {
        logger_.info("Locale 匹配失败，回退到 " + *fallback);
        return *fallback;
    }
    logger_.error("无法解析可用 locale，返回 " + requested);
    return requested;
}

AsyncStream<AnalyzerInput> SpeechAnalyzerBackend::makeAnalyzerInputStream(AsyncStream<AudioPCMBuffer> bufferStream,
                                                                         std::shared_ptr<FrameCounter> counter) const {
    auto giveUpBuffers = [bufferChannel = bufferStream.channel()] { bufferChannel->cancel(); };
    auto feed = [buffers = std::move(bufferStream), counter = std::move(counter),
                 logger = logger_](Channel<AnalyzerInput>& input) mutable {
        auto stream = std::move(buffers);
        std::int64_t bufferCount = 0;
        try {
            while (auto buffer = stream.next()) {
                auto frameLength = buffer->frameLength();
                // Counted before handing over: bytesProcessed counts audio queued for the analyzer.
                if (frameLength != 0) counter->add(frameLength);
                ++bufferCount;
                logger.debug("Analyzer 输入 buffer#" + std::to_string(bufferCount) +
                             " frameCount=" + std::to_string(frameLength));
                input.send(AnalyzerInput{std::move(*buffer)});
            }
            logger.info("Analyzer 输入流结束，buffer总数=" + std::to_string(bufferCount));
            input.finish();
        } catch (const std::exception& failure) {
            logger.error(std::string("构建 Analyzer 输入流失败: ") + failure.what());
            input.fail(std::current_exception());
        }
    };
    return AsyncStream<AnalyzerInput>::spawn(std::move(feed), std::move(giveUpBuffers),
                                             {AudioStreamConfig::maxQueuedBuffers, {}});
}

void SpeechAnalyzerBackend::emitResults(const SpeechTranscriber& transcriber, Channel<ResultPayload>& output,
                                        const FrameCounter& counter, const std::atomic<bool>& cancelled) const {
    auto results = transcriber.results();
    for (;;) {
        auto result = results->receive();
        if (cancelled) {
            logger_.debug("结果流被取消");
            break;
        }
        if (!result) break;
        auto byteCount = counter.byteCount();
        logger_.debug(std::string("收到结果 isFinal=") + boolText(result->isFinal) +
                      " bytesProcessed=" + std::to_string(byteCount) +
                      " textLength=" + std::to_string(userPerceivedCharacterCount(result->text)));
        output.send(ResultPayload{.text = result->text, .isFinal = result->isFinal, .bytesProcessed = byteCount});
    }
    logger_.info("结果流结束");
}

}  // namespace harkline
