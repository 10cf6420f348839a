#include "harkline/Platform/Speech/SherpaOnnx/SileroSpeechGate.h"

#include <cstring>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "harkline/Platform/Speech/Models/FileDigest.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxLibrary.h"
#include "harkline/Platform/Speech/SherpaOnnx/StandardErrorCapture.h"

namespace harkline {
namespace {

constexpr int sampleRate = 16000;
// The window Silero VAD v5 is trained on at 16 kHz.
constexpr std::size_t windowSamples = 512;

}  // namespace

std::optional<std::string> SileroSpeechGate::modelProblem(const std::filesystem::path& model) {
    std::error_code error;
    auto size = std::filesystem::file_size(model, error);
    if (error) return "the speech gate model " + model.string() + " is missing";
    try {
        if (size != modelBytes || Sha256::ofFile(model) != modelSha256)
            return "the speech gate model " + model.string() + " is damaged: it is not the file harkline pins";
    } catch (const std::system_error& failure) {
        return "the speech gate model " + model.string() + " cannot be read: " + failure.what();
    }
    return std::nullopt;
}

SileroSpeechGate::SileroSpeechGate(const std::filesystem::path& model, const cli::Logger& logger)
    : library_(SherpaOnnxLibrary::get()),
      cutter_(windowSamples, static_cast<std::size_t>(secondsBeforeStart * sampleRate)),
      window_(windowSamples) {
    if (auto problem = modelProblem(model)) throw std::runtime_error(*problem);
    auto path = model.string();
    SherpaOnnxVadModelConfig config;
    std::memset(&config, 0, sizeof config);
    config.silero_vad = {path.c_str(), threshold, shortestPauseSeconds, shortestSpeechSeconds,
                         static_cast<int32_t>(windowSamples), longestSpeechSeconds};
    config.sample_rate = sampleRate;
    config.num_threads = 1;
    config.provider = "cpu";
    StandardErrorCapture capture;
    // The detector keeps the audio of the speech in progress: room for the longest.
    detector_ = library_.createVoiceActivityDetector(&config, longestSpeechSeconds + 5.0f);
    std::istringstream output(capture.finish());
    for (std::string line; std::getline(output, line);)
        if (!line.empty()) logger.info("sherpa-onnx: " + line);
    if (detector_ == nullptr) throw std::runtime_error("sherpa-onnx could not load the speech gate model " + path);
}

SileroSpeechGate::~SileroSpeechGate() { library_.destroyVoiceActivityDetector(detector_); }

std::vector<SpeechGate::Passage> SileroSpeechGate::listen(const std::int16_t* samples, std::size_t count) {
    return cutter_.cut(samples, count, [this](const std::int16_t* window) { return hearsSpeechAfter(window); });
}

std::vector<SpeechGate::Passage> SileroSpeechGate::finish() { return cutter_.finish(); }

bool SileroSpeechGate::hearsSpeechAfter(const std::int16_t* window) {
    for (std::size_t i = 0; i < windowSamples; ++i) window_[i] = static_cast<float>(window[i]) / 32768.0f;
    library_.detectorAcceptWaveform(detector_, window_.data(), static_cast<int32_t>(windowSamples));
    bool speech = library_.detectorHearsSpeech(detector_) != 0;
    // The detector also queues each finished stretch's audio, which the gate does not use.
    library_.detectorClearSegments(detector_);
    return speech;
}

}  // namespace harkline
