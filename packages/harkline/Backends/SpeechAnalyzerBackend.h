#pragma once

#include <memory>
#include <string>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Audio/AudioStreamConfig.h"
#include "harkline/Backends/SpeechBackend.h"
#include "harkline/Platform/Speech/SpeechPlatform.h"

namespace harkline {

// The backend that recognises speech: it runs the speech platform's analyzer with one
// transcriber, behind the platform's speech gate, over the audio buffers, turns each
// transcription result into a ResultPayload carrying the bytes of audio handed to the
// analyzer so far (empty final results are dropped), and finalises the analysis at the
// end of input so that the last final results arrive before it returns.
class SpeechAnalyzerBackend final : public SpeechBackend {
public:
    SpeechAnalyzerBackend(AudioStreamConfig config, std::string localeIdentifier, TranscriptionPreset preset,
                          cli::Logger logger, std::shared_ptr<const SpeechPlatform> platform)
        : config_(config), localeIdentifier_(std::move(localeIdentifier)), preset_(preset),
          logger_(std::move(logger)), platform_(std::move(platform)) {}

    void run(PCMBufferStream& buffers, const ResultHandler& onResult) const override;

    // The locale to transcribe: the supported equivalent of `requested`, else en-US,
    // else `requested` unchanged.
    std::string resolveLocale(const std::string& requested) const;

private:
    // Feeds every buffer, then finishes.
    void analyze(SpeechAnalyzer& analyzer, PCMBufferStream& buffers, const SpeechResultHandler& emit) const;
    std::optional<AudioPCMBuffer> nextInput(PCMBufferStream& buffers) const;
    // The analyzer behind the platform's speech gate; the analyzer alone when the
    // platform has no gate or its gate cannot be used.
    std::unique_ptr<SpeechAnalyzer> withSpeechGate(std::unique_ptr<SpeechAnalyzer> analyzer) const;

    AudioStreamConfig config_;
    std::string localeIdentifier_;
    TranscriptionPreset preset_;
    cli::Logger logger_;
    std::shared_ptr<const SpeechPlatform> platform_;
};

}  // namespace harkline
