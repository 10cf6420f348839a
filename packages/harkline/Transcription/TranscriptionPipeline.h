#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Audio/AudioStreamConfig.h"
#include "harkline/Audio/PCMBufferStreamBuilder.h"
#include "harkline/Platform/Speech/SpeechModels.h"
#include "harkline/Platform/Speech/TranscriptionPreset.h"
#include "harkline/Runtime/CLIMessages.h"

namespace harkline {

// Receives transcription results as they are made.
using ResultHandler = std::function<void(ResultPayload)>;

// Chunks of standard input -> PCM buffers -> the speech gate -> the decoder of the model
// that serves the locale -> its text formatter (final results only) -> results, in order, on
// the calling thread. Each result carries
// the bytes of audio handed on so far (speech or not, those cut ahead of the buffer being
// decoded included); empty final results are dropped.
class TranscriptionPipeline {
public:
    TranscriptionPipeline(AudioStreamConfig config, PCMBufferStreamBuilder pcmBuilder,
                          std::shared_ptr<const SpeechModels> models, std::string localeIdentifier,
                          TranscriptionPreset preset, cli::Logger logger)
        : config_(config), pcmBuilder_(std::move(pcmBuilder)), models_(std::move(models)),
          localeIdentifier_(std::move(localeIdentifier)), preset_(preset), logger_(std::move(logger)) {}

    // Throws the failure that stopped the transcription (building the stages, or the
    // decoder's), after the results made before it; the input has stopped by then.
    void process(AsyncStream<ByteChunk> stream, const ResultHandler& onResult) const;

    // The locale to transcribe: the served equivalent of `requested`, else en-US, else
    // `requested` unchanged.
    std::string resolveLocale(const std::string& requested) const;

private:
    void transcribe(PCMBufferStream& buffers, const ResultHandler& onResult) const;
    // Feeds every buffer, then finishes.
    void decode(StreamingDecoder& decoder, PCMBufferStream& buffers,
                const std::function<void(StreamingDecoder::Hypothesis)>& emit) const;
    std::optional<PCMBuffer> nextInput(PCMBufferStream& buffers) const;
    // The speech gate to put in front of the decoder; none when it is switched off or
    // cannot be used.
    std::unique_ptr<SpeechGate> openSpeechGate() const;

    AudioStreamConfig config_;
    PCMBufferStreamBuilder pcmBuilder_;
    std::shared_ptr<const SpeechModels> models_;
    std::string localeIdentifier_;
    TranscriptionPreset preset_;
    cli::Logger logger_;
};

}  // namespace harkline
