#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxDecoder.h"

#include <cstring>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxLibrary.h"
#include "harkline/Platform/Speech/SherpaOnnx/StandardErrorCapture.h"

namespace harkline {
namespace {

constexpr int sampleRate = 16000;
constexpr int samplesPerFrame = sampleRate / 100;  // 10 ms feature frames
constexpr float pauseEndingUtterance = 0.8f;
constexpr float silenceBeforeAnyText = 2.4f;
constexpr float longestUtterance = 30.0f;

void logEngineOutput(const std::string& output, const cli::Logger& logger) {
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line))
        if (!line.empty()) logger.info("sherpa-onnx: " + line);
}

}  // namespace

SherpaOnnxDecoder::SherpaOnnxDecoder(const SherpaOnnxStreamingModel& model, const cli::Logger& logger,
                                     EngineOutput engineOutput, std::string hotwords)
    : library_(SherpaOnnxLibrary::get()), hotwords_(std::move(hotwords)) {
    auto pathText = [](const std::optional<std::filesystem::path>& path) { return path ? path->string() : std::string(); };
    auto encoder = pathText(model.transducer ? std::optional(model.transducer->encoder) : std::nullopt);
    auto decoder = pathText(model.transducer ? std::optional(model.transducer->decoder) : std::nullopt);
    auto joiner = pathText(model.transducer ? std::optional(model.transducer->joiner) : std::nullopt);
    auto ctcModel = pathText(model.ctcModel);
    auto tokens = model.tokens.string();
    auto hotwordsFile = pathText(model.hotwords);
    auto bpeVocab = pathText(model.bpeVocab);

    SherpaOnnxOnlineRecognizerConfig config;
    std::memset(&config, 0, sizeof config);
    config.feat_config = {sampleRate, 80};
    if (model.transducer)
        config.model_config.transducer = {encoder.c_str(), decoder.c_str(), joiner.c_str()};
    else
        config.model_config.zipformer2_ctc.model = ctcModel.c_str();
    config.model_config.tokens = tokens.c_str();
    config.model_config.num_threads = 1;
    config.model_config.provider = "cpu";
    config.decoding_method = "greedy_search";
    if (model.hotwords || !hotwords_.empty()) {
        config.decoding_method = "modified_beam_search";
        config.max_active_paths = 4;
        if (model.hotwords) config.hotwords_file = hotwordsFile.c_str();
        config.hotwords_score = 1.5f;
        config.model_config.modeling_unit = model.bpeVocab ? "cjkchar+bpe" : "cjkchar";
        if (model.bpeVocab) config.model_config.bpe_vocab = bpeVocab.c_str();
    }
    config.enable_endpoint = 1;
    config.rule1_min_trailing_silence = silenceBeforeAnyText;
    config.rule2_min_trailing_silence = pauseEndingUtterance;
    config.rule3_min_utterance_length = longestUtterance;

    std::optional<StandardErrorCapture> capture;
    if (engineOutput == EngineOutput::toLog) capture.emplace();
    recognizer_ = library_.createOnlineRecognizer(&config);
    if (recognizer_ != nullptr) stream_ = openStream();
    if (capture) logEngineOutput(capture->finish(), logger);
    const auto& name = model.transducer ? encoder : ctcModel;
    if (recognizer_ == nullptr) throw std::runtime_error("sherpa-onnx could not load the model " + name);
    if (stream_ == nullptr) {
        library_.destroyOnlineRecognizer(recognizer_);
        throw std::runtime_error("sherpa-onnx could not start a stream on the model " + name);
    }
    // Zero samples for one whole chunk more, so that the last real one is decoded.
    tailPaddingSamples_ = static_cast<std::size_t>(model.chunkFrames + 2) * samplesPerFrame + 240;
}

SherpaOnnxDecoder::~SherpaOnnxDecoder() {
    library_.destroyOnlineStream(stream_);
    library_.destroyOnlineRecognizer(recognizer_);
}

std::vector<StreamingDecoder::Hypothesis> SherpaOnnxDecoder::feed(const std::int16_t* samples, std::size_t count) {
    std::vector<Hypothesis> hypotheses;
    if (count == 0) return hypotheses;
    samples_.resize(count);
    for (std::size_t i = 0; i < count; ++i) samples_[i] = static_cast<float>(samples[i]) / 32768.0f;
    library_.acceptWaveform(stream_, sampleRate, samples_.data(), static_cast<int32_t>(count));
    decodeReady(hypotheses);
    return hypotheses;
}

std::vector<StreamingDecoder::Hypothesis> SherpaOnnxDecoder::finish() {
    std::vector<Hypothesis> hypotheses;
    samples_.assign(tailPaddingSamples_, 0.0f);
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
// the pause between two utterances may lie inside it.
void SherpaOnnxDecoder::decodeReady(std::vector<Hypothesis>& hypotheses) {
    while (library_.isReady(recognizer_, stream_)) {
        library_.decode(recognizer_, stream_);
        auto text = currentText();
        if (library_.isEndpoint(recognizer_, stream_)) {
            if (!text.empty() || !lastPartial_.empty()) hypotheses.push_back({std::move(text), true});
            library_.reset(recognizer_, stream_);
            lastPartial_.clear();
        } else if (!text.empty() && text != lastPartial_) {
            lastPartial_ = text;
            hypotheses.push_back({std::move(text), false});
        }
    }
}

const SherpaOnnxOnlineStream* SherpaOnnxDecoder::openStream() const {
    return hotwords_.empty() ? library_.createOnlineStream(recognizer_)
                             : library_.createOnlineStreamWithHotwords(recognizer_, hotwords_.c_str());
}

std::string SherpaOnnxDecoder::currentText() const {
    const auto* result = library_.getResult(recognizer_, stream_);
    std::string text = result != nullptr && result->text != nullptr ? result->text : "";
    library_.destroyResult(result);
    // Word-piece models mark a word's start with a space, the first word's too.
    auto start = text.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : text.substr(start);
}

}  // namespace harkline
