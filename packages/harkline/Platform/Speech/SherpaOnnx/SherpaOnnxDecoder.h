#pragma once

#include <memory>
#include <string>
#include <vector>

#include "harkline/Transcription/StreamingDecoder.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxRecognizer.h"

struct SherpaOnnxOnlineStream;

namespace harkline {

// One dictation on a streaming transducer or zipformer2 CTC model loaded in sherpa-onnx
// (through its C interface), with endpoint detection: an utterance ends after 0.8 s of
// silence that follows decoded text (2.4 s when nothing was decoded yet, and at the
// latest after 30 s). Greedy search, or modified beam search with a transducer's hotwords:
// the model's own file and those given for this transcription (`hotwords`, as
// sherpaOnnxHotwords makes them, on a recognizer loaded to take them).
class SherpaOnnxDecoder final : public StreamingDecoder {
public:
    // Starts a stream on the loaded model; throws std::runtime_error when the engine
    // cannot.
    explicit SherpaOnnxDecoder(std::shared_ptr<const SherpaOnnxRecognizer> recognizer, std::string hotwords = {});
    ~SherpaOnnxDecoder() override;
    SherpaOnnxDecoder(const SherpaOnnxDecoder&) = delete;
    SherpaOnnxDecoder& operator=(const SherpaOnnxDecoder&) = delete;

    std::vector<Hypothesis> feed(const std::int16_t* samples, std::size_t count) override;
    std::vector<Hypothesis> finish() override;

private:
    void decodeReady(std::vector<Hypothesis>& hypotheses);
    std::string currentText() const;
    const SherpaOnnxOnlineStream* openStream() const;

    std::shared_ptr<const SherpaOnnxRecognizer> recognizer_;
    const SherpaOnnxLibrary& library_;
    const SherpaOnnxOnlineStream* stream_ = nullptr;
    std::string hotwords_;
    std::string lastPartial_;
    std::vector<float> samples_;
};

}  // namespace harkline
