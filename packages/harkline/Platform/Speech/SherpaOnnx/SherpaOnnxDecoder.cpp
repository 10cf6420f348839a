#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxDecoder.h"

#include <stdexcept>

#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxLibrary.h"

namespace harkline {
namespace {

constexpr int sampleRate = 16000;

}  // namespace

SherpaOnnxDecoder::SherpaOnnxDecoder(std::shared_ptr<const SherpaOnnxRecognizer> recognizer, std::string hotwords)
    : recognizer_(std::move(recognizer)), library_(recognizer_->library()), hotwords_(std::move(hotwords)) {
    auto lock = recognizer_->lock();
    stream_ = openStream();
    if (stream_ == nullptr) throw std::runtime_error("sherpa-onnx could not start a stream on the model " + recognizer_->name());
}

SherpaOnnxDecoder::~SherpaOnnxDecoder() {
    auto lock = recognizer_->lock();
    library_.destroyOnlineStream(stream_);
}

std::vector<StreamingDecoder::Hypothesis> SherpaOnnxDecoder::feed(const std::int16_t* samples, std::size_t count) {
    std::vector<Hypothesis> hypotheses;
    if (count == 0) return hypotheses;
    samples_.resize(count);
    for (std::size_t i = 0; i < count; ++i) samples_[i] = static_cast<float>(samples[i]) / 32768.0f;
    auto lock = recognizer_->lock();
    library_.acceptWaveform(stream_, sampleRate, samples_.data(), static_cast<int32_t>(count));
    decodeReady(hypotheses);
    return hypotheses;
}

std::vector<StreamingDecoder::Hypothesis> SherpaOnnxDecoder::finish() {
    std::vector<Hypothesis> hypotheses;
    samples_.assign(recognizer_->tailPaddingSamples(), 0.0f);
    auto lock = recognizer_->lock();
    library_.acceptWaveform(stream_, sampleRate, samples_.data(), static_cast<int32_t>(samples_.size()));
    library_.inputFinished(stream_);
    decodeReady(hypotheses);
    auto text = currentText();
    // A final result also closes partial results already shown; an empty one goes no
    // further than the pipeline, which writes no empty final line.
    if (!text.empty() || !lastPartial_.empty()) hypotheses.push_back({std::move(text), true});
    lastPartial_.clear();
    // A finished stream takes no more samples: the next stretch gets a fresh one.
    const auto* next = openStream();
    if (next == nullptr) throw std::runtime_error("sherpa-onnx could not start a new stream");
    library_.destroyOnlineStream(stream_);
    stream_ = next;
    return hypotheses;
}

// Endpoints are checked after every decoded chunk: a read may hold several chunks, and
// the pause between two utterances may lie inside it. Called under the recognizer's lock.
void SherpaOnnxDecoder::decodeReady(std::vector<Hypothesis>& hypotheses) {
    const auto* recognizer = recognizer_->handle();
    while (library_.isReady(recognizer, stream_)) {
        library_.decode(recognizer, stream_);
        auto text = currentText();
        if (library_.isEndpoint(recognizer, stream_)) {
            if (!text.empty() || !lastPartial_.empty()) hypotheses.push_back({std::move(text), true});
            library_.reset(recognizer, stream_);
            lastPartial_.clear();
        } else if (!text.empty() && text != lastPartial_) {
            lastPartial_ = text;
            hypotheses.push_back({std::move(text), false});
        }
    }
}

const SherpaOnnxOnlineStream* SherpaOnnxDecoder::openStream() const {
    return hotwords_.empty() ? library_.createOnlineStream(recognizer_->handle())
                             : library_.createOnlineStreamWithHotwords(recognizer_->handle(), hotwords_.c_str());
}

std::string SherpaOnnxDecoder::currentText() const {
    const auto* result = library_.getResult(recognizer_->handle(), stream_);
    std::string text = result != nullptr && result->text != nullptr ? result->text : "";
    library_.destroyResult(result);
    // Word-piece models mark a word's start with a space, the first word's too.
    auto start = text.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : text.substr(start);
}

}  // namespace harkline
