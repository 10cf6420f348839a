#include "harkline/Backends/SpeechAnalyzerBackend.h"

#include <exception>
#include <string>

#include "harkline/Runtime/CharacterCount.h"
#include "harkline/Runtime/CLIError.h"
#include "harkline/Runtime/NumberFormatting.h"
#include "harkline/Transcription/GatedSpeechAnalyzer.h"

namespace harkline {
namespace {

const char* boolText(bool value) { return value ? "true" : "false"; }

}  // namespace

void SpeechAnalyzerBackend::run(PCMBufferStream& buffers, const ResultHandler& onResult) const {
    if (!platform_->isTranscriberAvailable()) {
        logger_.error("SpeechTranscriber 当前不可用，无法启动 Apple 后端");
        throw CLIError(CLIError::Case::backendUnavailable);
    }
    auto locale = resolveLocale(localeIdentifier_);
    logger_.info("AppleSpeechAnalyzer 启动，locale=" + locale + " preset=" + describe(preset_));
    auto transcriber = platform_->makeTranscriber(locale, preset_);
    auto analyzer = withSpeechGate(platform_->makeAnalyzer(transcriber));

    logger_.info("调用 prepareToAnalyze，sampleRate=" + formatFloatingPoint(config_.sampleRate));
    analyzer->load(AudioFormat{AudioCommonFormat::pcmFormatInt16, config_.sampleRate, config_.channels, false});
    logger_.info("开始 start(inputSequence:)");

    // Each result carries the bytes of audio handed on to the analyzer when it came,
    // those cut ahead of the buffer it decodes included.
    auto emit = [&](SpeechTranscriptionResult result) {
        // An empty final tells the host nothing, and a host may paste it.
        if (result.isFinal && result.text.empty()) return;
        auto byteCount = buffers.bytesCut();
        logger_.debug(std::string("收到结果 isFinal=") + boolText(result.isFinal) +
                      " bytesProcessed=" + std::to_string(byteCount) +
                      " textLength=" + std::to_string(userPerceivedCharacterCount(result.text)));
        onResult(ResultPayload{.text = std::move(result.text), .isFinal = result.isFinal, .bytesProcessed = byteCount});
    };
    try {
        analyze(*analyzer, buffers, emit);
    } catch (const std::exception& failure) {
        logger_.error(std::string("SpeechAnalyzer 运行抛出错误: ") + failure.what());
        logger_.debug("结果流被取消");
        logger_.info("结果流结束");
        throw;
    }
    logger_.info("结果流结束");
    logger_.info("SpeechAnalyzer start + finalize 完成");
}

void SpeechAnalyzerBackend::analyze(SpeechAnalyzer& analyzer, PCMBufferStream& buffers,
                                    const SpeechResultHandler& emit) const {
    std::int64_t bufferCount = 0;
    while (auto buffer = nextInput(buffers)) {
        auto frameLength = buffer->frameLength();
        ++bufferCount;
        logger_.debug("Analyzer 输入 buffer#" + std::to_string(bufferCount) + " frameCount=" + std::to_string(frameLength));
        analyzer.feed(*buffer, emit);
    }
    logger_.info("Analyzer 输入流结束，buffer总数=" + std::to_string(bufferCount));
    logger_.info("音频输入发送完成，调用 finalizeAndFinishThroughEndOfInput");
    analyzer.finish(emit);
    logger_.info("finalizeAndFinishThroughEndOfInput 完成，等待结果流结束");
}

std::unique_ptr<SpeechAnalyzer> SpeechAnalyzerBackend::withSpeechGate(std::unique_ptr<SpeechAnalyzer> analyzer) const {
    std::unique_ptr<SpeechGate> gate;
    try {
        gate = platform_->makeSpeechGate();
    } catch (const std::exception& failure) {
        // Noise may then make words, but the dictation goes on.
        logger_.error(std::string("语音门控不可用，转写不经门控继续: ") + failure.what());
        return analyzer;
    }
    if (!gate) return analyzer;
    logger_.info("语音门控已启用");
    return std::make_unique<GatedSpeechAnalyzer>(std::move(analyzer), std::move(gate), logger_);
}

std::optional<AudioPCMBuffer> SpeechAnalyzerBackend::nextInput(PCMBufferStream& buffers) const {
    try {
        return buffers.next();
    } catch (const std::exception& failure) {
        logger_.error(std::string("构建 Analyzer 输入流失败: ") + failure.what());
        throw;
    }
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

}  // namespace harkline
