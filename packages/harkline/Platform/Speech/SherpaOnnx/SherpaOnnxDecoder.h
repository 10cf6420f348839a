#pragma once

#include <string>
#include <vector>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Transcription/StreamingDecoder.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxStreamingModel.h"

struct SherpaOnnxOnlineRecognizer;
struct SherpaOnnxOnlineStream;

namespace harkline {

struct SherpaOnnxLibrary;

// Where the engine's own messages go while a model loads: into our log (standard error
// is captured meanwhile), or to standard error as they are.
enum class EngineOutput { toLog, asIs };

// A streaming transducer or zipformer2 CTC model in sherpa-onnx (through its C interface)
// with endpoint detection: an utterance ends after 0.8 s of silence that follows decoded
// text (2.4 s when nothing was decoded yet, and at the latest after 30 s). Greedy search,
// or modified beam search with a transducer's hotwords: the model's own file and those
// given for this transcription (`hotwords`, as sherpaOnnxHotwords makes them).
class SherpaOnnxDecoder final : public StreamingDecoder {
public:
    // Loads the library (once per process) and the model; throws std::runtime_error when
    // the library is missing or not the pinned release, or the engine refuses the model.
    SherpaOnnxDecoder(const SherpaOnnxStreamingModel& model, const cli::Logger& logger,
                      EngineOutput engineOutput = EngineOutput::toLog, std::string hotwords = {});
    ~SherpaOnnxDecoder() override;
    SherpaOnnxDecoder(const SherpaOnnxDecoder&) = delete;
    SherpaOnnxDecoder& operator=(const SherpaOnnxDecoder&) = delete;

    std::vector<Hypothesis> feed(const std::int16_t* samples, std::size_t count) override;
    std::vector<Hypothesis> finish() override;

private:
    void decodeReady(std::vector<Hypothesis>& hypotheses);
    std::string currentText() const;
    const SherpaOnnxOnlineStream* openStream() const;

    const SherpaOnnxLibrary& library_;
    const SherpaOnnxOnlineRecognizer* recognizer_ = nullptr;
    const SherpaOnnxOnlineStream* stream_ = nullptr;
    std::string hotwords_;
    std::size_t tailPaddingSamples_ = 0;
    std::string lastPartial_;
    std::vector<float> samples_;
};

}  // namespace harkline
