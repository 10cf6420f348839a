#pragma once

#include <memory>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Platform/Speech/SpeechPlatform.h"
#include "harkline/Transcription/SpeechGate.h"

namespace harkline {

// A speech gate in front of an analyzer: the analyzer hears only the stretches of speech
// that the gate lets through, and ends an utterance where the gate hears a stretch end.
// Silence and noise between them are never decoded, so they make no results.
class GatedSpeechAnalyzer final : public SpeechAnalyzer {
public:
    GatedSpeechAnalyzer(std::unique_ptr<SpeechAnalyzer> engine, std::unique_ptr<SpeechGate> gate, cli::Logger logger)
        : engine_(std::move(engine)), gate_(std::move(gate)), logger_(std::move(logger)) {}

    void load(const AudioFormat& format) override;
    void feed(const AudioPCMBuffer& buffer, const SpeechResultHandler& onResult) override;
    void finishUtterance(const SpeechResultHandler& onResult) override;
    void finish(const SpeechResultHandler& onResult) override;

private:
    void handOn(std::vector<SpeechGate::Passage> passages, const SpeechResultHandler& onResult);

    std::unique_ptr<SpeechAnalyzer> engine_;
    std::unique_ptr<SpeechGate> gate_;
    cli::Logger logger_;
    AudioFormat format_;
};

}  // namespace harkline
