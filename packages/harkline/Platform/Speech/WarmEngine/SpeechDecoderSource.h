#pragma once

#include <memory>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Platform/Speech/PersonalVocabulary.h"
#include "harkline/Transcription/StreamingDecoder.h"
#include "harkline/Platform/Speech/SpeechModelStore.h"
#include "harkline/Platform/Speech/WarmEngine/WarmEngineConnector.h"

namespace harkline {

// Hands out the decoder of one transcription, which cannot tell where it decodes: a stream
// on the user's warm engine (started when none runs) for a sherpa-onnx model, whose
// loading is what costs; otherwise, or when no warm engine can serve, the model loaded in
// this process, with one log line saying why. pocketsphinx models always load here: its
// decoder is the whole per-dictation state, so an engine could not share one between
// dictations.
class SpeechDecoderSource {
public:
    SpeechDecoderSource(WarmEngineConnector connector, bool warmEngineEnabled, cli::Logger logger)
        : connector_(std::move(connector)), warmEngineEnabled_(warmEngineEnabled), logger_(std::move(logger)) {}
    // The user's warm engine unless $TESSARYN_WARM_ENGINE is "off".
    static SpeechDecoderSource forThisUser(const cli::Logger& logger);

    // Checks the model's files and readies a decoder on it, with the hotwords that
    // `vocabulary` gives it; throws std::runtime_error saying why it cannot, as loading it
    // here would.
    std::unique_ptr<StreamingDecoder> decoderFor(const InstalledSpeechModel& model,
                                                 const PersonalVocabulary& vocabulary = {}) const;

private:
    std::unique_ptr<StreamingDecoder> loadHere(const InstalledSpeechModel& model, const PersonalVocabulary& vocabulary,
                                               const std::string& reason) const;

    WarmEngineConnector connector_;
    bool warmEngineEnabled_;
    cli::Logger logger_;
};

}  // namespace harkline
