#include "harkline/Transcription/TranscriptionPipeline.h"

#include <exception>
#include <future>
#include <string>

#include "harkline/Runtime/CLIError.h"
#include "harkline/Runtime/CharacterCount.h"
#include "harkline/Runtime/NumberFormatting.h"
#include "harkline/Transcription/GatedDecoder.h"

namespace harkline {
namespace {

const char* boolText(bool value) { return value ? "true" : "false"; }

}  // namespace

void TranscriptionPipeline::process(AsyncStream<ByteChunk> stream, const ResultHandler& onResult) const {
    logger_.info("转写管线开始运行，sampleRate=" + formatFloatingPoint(config_.sampleRate) +
                 "，bytes/frame=" + std::to_string(config_.bytesPerFrame()));
    try {
        auto buffers = pcmBuilder_.makeStream(std::move(stream));
        transcribe(buffers, [&](ResultPayload result) {
            logger_.debug(std::string("接收到转写结果 isFinal=") + boolText(result.isFinal) +
                          " bytesProcessed=" + std::to_string(result.bytesProcessed.value_or(-1)));
            onResult(std::move(result));
        });
    } catch (const std::exception& failure) {
        logger_.error(std::string("转写管线出错: ") + failure.what());
        throw;
    }
    logger_.info("转写管线正常结束");
}

// The log lines name these steps as harkline's logs always have.
void TranscriptionPipeline::transcribe(PCMBufferStream& buffers, const ResultHandler& onResult) const {
    if (!models_->hasAnyModel()) {
        logger_.error("SpeechTranscriber 当前不可用，无法启动 Apple 后端");
        throw CLIError(CLIError::Case::backendUnavailable);
    }
    auto locale = resolveLocale(localeIdentifier_);
    logger_.info("AppleSpeechAnalyzer 启动，locale=" + locale + " preset=" + describe(preset_));
    // A formatting model takes a while to load and only finals need it: it loads while the
    // engine starts and the first words are decoded.
    auto formatterLoad = std::async(std::launch::async, [this, locale] { return models_->openTextFormatter(locale); });
    std::unique_ptr<TextFormatter> formatter;
    auto gate = openSpeechGate();
    logger_.info("调用 prepareToAnalyze，sampleRate=" + formatFloatingPoint(config_.sampleRate));
    auto decoder = models_->openDecoder(locale);
    if (gate) decoder = std::make_unique<GatedDecoder>(std::move(decoder), std::move(gate), logger_);
    logger_.info("开始 start(inputSequence:)");

    auto emit = [&](StreamingDecoder::Hypothesis hypothesis) {
        // An empty final tells the host nothing, and a host may paste it.
        if (hypothesis.isFinal && hypothesis.text.empty()) return;
        // A partial is replaced within moments; only the final is kept, so only it is formatted.
        if (hypothesis.isFinal) {
            if (!formatter) formatter = formatterLoad.get();
            hypothesis.text = formatter->format(std::move(hypothesis.text));
        }
        auto byteCount = buffers.bytesCut();
        logger_.debug(std::string("收到结果 isFinal=") + boolText(hypothesis.isFinal) +
                      " bytesProcessed=" + std::to_string(byteCount) +
                      " textLength=" + std::to_string(userPerceivedCharacterCount(hypothesis.text)));
        onResult(ResultPayload{.text = std::move(hypothesis.text), .isFinal = hypothesis.isFinal, .bytesProcessed = byteCount});
    };
    try {
        decode(*decoder, buffers, emit);
    } catch (const std::exception& failure) {
        logger_.error(std::string("SpeechAnalyzer 运行抛出错误: ") + failure.what());
        logger_.debug("结果流被取消");
        logger_.info("结果流结束");
        throw;
    }
    logger_.info("结果流结束");
    logger_.info("SpeechAnalyzer start + finalize 完成");
}

void TranscriptionPipeline::decode(StreamingDecoder& decoder, PCMBufferStream& buffers,
                                   const std::function<void(StreamingDecoder::Hypothesis)>& emit) const {
    std::int64_t bufferCount = 0;
    while (auto buffer = nextInput(buffers)) {
        auto frameLength = buffer->frameLength();
        ++bufferCount;
        logger_.debug("Analyzer 输入 buffer#" + std::to_string(bufferCount) + " frameCount=" + std::to_string(frameLength));
        for (auto& hypothesis : decoder.feed(buffer->samples(), frameLength)) emit(std::move(hypothesis));
    }
    logger_.info("Analyzer 输入流结束，buffer总数=" + std::to_string(bufferCount));
    logger_.info("音频输入发送完成，调用 finalizeAndFinishThroughEndOfInput");
    for (auto& hypothesis : decoder.finish()) emit(std::move(hypothesis));
    logger_.info("finalizeAndFinishThroughEndOfInput 完成，等待结果流结束");
}

std::unique_ptr<SpeechGate> TranscriptionPipeline::openSpeechGate() const {
    try {
        auto gate = models_->openSpeechGate();
        if (gate) logger_.info("语音门控已启用");
        return gate;
    } catch (const std::exception& failure) {
        // Noise may then make words, but the dictation goes on.
        logger_.error(std::string("语音门控不可用，转写不经门控继续: ") + failure.what());
        return nullptr;
    }
}

std::optional<PCMBuffer> TranscriptionPipeline::nextInput(PCMBufferStream& buffers) const {
    try {
        return buffers.next();
    } catch (const std::exception& failure) {
        logger_.error(std::string("构建 Analyzer 输入流失败: ") + failure.what());
        throw;
    }
}

std::string TranscriptionPipeline::resolveLocale(const std::string& requested) const {
    if (auto matched = models_->servingLocale(requested)) {
        if (*matched != requested) logger_.info("Locale " + requested + " 匹配为 " + *matched);
        return *matched;
    }
    if (auto fallback = models_->servingLocale("en-US")) {
        logger_.info("Locale 匹配失败，回退到 " + *fallback);
        return *fallback;
    }
    logger_.error("无法解析可用 locale，返回 " + requested);
    return requested;
}

}  // namespace harkline
