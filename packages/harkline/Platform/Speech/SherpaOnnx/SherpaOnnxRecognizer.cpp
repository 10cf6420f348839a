#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxRecognizer.h"

#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxLibrary.h"
#include "harkline/Platform/Speech/SherpaOnnx/StandardErrorCapture.h"

namespace harkline {
namespace {

constexpr int sampleRate = 16000;
constexpr int samplesPerFrame = sampleRate / 100;  // 10 ms feature frames
constexpr float pauseEndingUtterance = 0.8f;
constexpr float silenceBeforeAnyText = 2.4f;
constexpr float longestUtterance = 30.0f;

}  // namespace

SherpaOnnxRecognizer::SherpaOnnxRecognizer(const SherpaOnnxStreamingModel& model, const cli::Logger& logger,
                                           EngineOutput engineOutput, bool hotwordsPerStream)
    : library_(SherpaOnnxLibrary::get()) {
    auto pathText = [](const std::optional<std::filesystem::path>& path) { return path ? path->string() : std::string(); };
    auto encoder = pathText(model.transducer ? std::optional(model.transducer->encoder) : std::nullopt);
    auto decoder = pathText(model.transducer ? std::optional(model.transducer->decoder) : std::nullopt);
    auto joiner = pathText(model.transducer ? std::optional(model.transducer->joiner) : std::nullopt);
    auto ctcModel = pathText(model.ctcModel);
    auto tokens = model.tokens.string();
    auto hotwords = pathText(model.hotwords);
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
    if (model.hotwords || hotwordsPerStream) {
        config.decoding_method = "modified_beam_search";
        config.max_active_paths = 4;
        if (model.hotwords) config.hotwords_file = hotwords.c_str();
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
    if (capture)
        for (const auto& line : capture->finish()) logger.info("sherpa-onnx: " + line);
    name_ = model.transducer ? encoder : ctcModel;
    if (recognizer_ == nullptr) throw std::runtime_error("sherpa-onnx could not load the model " + name_);
    // Zero samples for one whole chunk more, so that the last real one is decoded.
    tailPaddingSamples_ = static_cast<std::size_t>(model.chunkFrames + 2) * samplesPerFrame + 240;
}

SherpaOnnxRecognizer::~SherpaOnnxRecognizer() { library_.destroyOnlineRecognizer(recognizer_); }

}  // namespace harkline
