#pragma once

#include <memory>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Transcription/SpeechGate.h"
#include "harkline/Transcription/StreamingDecoder.h"

namespace harkline {

// A speech gate in front of a decoder: the decoder hears only the stretches of speech that
// the gate lets through, and ends an utterance where the gate hears a stretch end. Silence
// and noise between them are never decoded, so they make no hypotheses.
class GatedDecoder final : public StreamingDecoder {
public:
    GatedDecoder(std::unique_ptr<StreamingDecoder> decoder, std::unique_ptr<SpeechGate> gate, cli::Logger logger)
        : decoder_(std::move(decoder)), gate_(std::move(gate)), logger_(std::move(logger)) {}

    std::vector<Hypothesis> feed(const std::int16_t* samples, std::size_t count) override;
    // The rest of a stretch in progress and its final hypothesis.
    std::vector<Hypothesis> finish() override;

private:
    std::vector<Hypothesis> handOn(std::vector<SpeechGate::Passage> passages);

    std::unique_ptr<StreamingDecoder> decoder_;
    std::unique_ptr<SpeechGate> gate_;
    cli::Logger logger_;
};

}  // namespace harkline
