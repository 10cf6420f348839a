#include "harkline/Platform/Speech/SherpaOnnx/SileroSpeechGate.h"

#include <cstring>
#include <limits>
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
// Inside a stretch, sherpa-onnx's detector keeps speech going on windows that score above
// its threshold less this.
constexpr float hysteresis = 0.15f;
// sherpa-onnx takes a duration of 0 for "its default"; this one is no sample long.
constexpr float noDuration = std::numeric_limits<float>::min();
// A stretch ends at this many windows in a row below the threshold.
constexpr std::size_t shortestPauseWindows =
    static_cast<std::size_t>(SileroSpeechGate::shortestPauseSeconds * sampleRate) / windowSamples;
// The windows the scorer catches up on at the start of a stretch: those kept before it.
constexpr std::size_t windowsBeforeStart =
    static_cast<std::size_t>(SileroSpeechGate::secondsBeforeStart * sampleRate) / windowSamples + 1;

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
      cutter_(windowSamples, static_cast<std::size_t>(secondsBeforeStart * sampleRate),
              static_cast<std::size_t>(pauseTailSeconds * sampleRate)),
      window_(windowSamples) {
    if (auto problem = modelProblem(model)) throw std::runtime_error(*problem);
    auto path = model.string();
    detector_ = createDetector(path, threshold, shortestPauseSeconds, shortestSpeechSeconds, logger);
    try {
        scorer_ = createDetector(path, threshold + hysteresis, noDuration, noDuration, logger);
    } catch (...) {
        library_.destroyVoiceActivityDetector(detector_);
        throw;
    }
}

SileroSpeechGate::~SileroSpeechGate() {
    library_.destroyVoiceActivityDetector(scorer_);
    library_.destroyVoiceActivityDetector(detector_);
}

const SherpaOnnxVoiceActivityDetector* SileroSpeechGate::createDetector(const std::string& model, float detectorThreshold,
                                                                        float shortestPause, float shortestSpeech,
                                                                        const cli::Logger& logger) {
    SherpaOnnxVadModelConfig config;
    std::memset(&config, 0, sizeof config);
    config.silero_vad = {model.c_str(), detectorThreshold, shortestPause, shortestSpeech,
                         static_cast<int32_t>(windowSamples), longestSpeechSeconds};
    config.sample_rate = sampleRate;
    config.num_threads = 1;
    config.provider = "cpu";
    StandardErrorCapture capture;
    // The detector keeps the audio of the speech in progress: room for the longest.
    const auto* detector = library_.createVoiceActivityDetector(&config, longestSpeechSeconds + 5.0f);
    for (const auto& line : capture.finish()) logger.info("sherpa-onnx: " + line);
    if (detector == nullptr) throw std::runtime_error("sherpa-onnx could not load the speech gate model " + model);
    return detector;
}

std::vector<SpeechGate::Passage> SileroSpeechGate::listen(const std::int16_t* samples, std::size_t count) {
    return cutter_.cut(samples, count, [this](const std::int16_t* window) { return judge(window); });
}

std::vector<SpeechGate::Passage> SileroSpeechGate::finish() { return cutter_.finish(); }

SpeechPassageCutter::Verdict SileroSpeechGate::judge(const std::int16_t* window) {
    using enum SpeechPassageCutter::Verdict;
    for (std::size_t i = 0; i < windowSamples; ++i) window_[i] = static_cast<float>(window[i]) / 32768.0f;
    if (!hearsSpeech(detector_, window_)) {
        scoring_ = false;
        endedEarly_ = false;
        pauseWindows_ = 0;
        recentWindows_.push_back(window_);
        if (recentWindows_.size() > windowsBeforeStart) recentWindows_.pop_front();
        return quiet;
    }
    if (!scoring_) {
        for (const auto& heard : recentWindows_) hearsSpeech(scorer_, heard);
        recentWindows_.clear();
        scoring_ = true;
    }
    if (hearsSpeech(scorer_, window_)) {
        endedEarly_ = false;
        pauseWindows_ = 0;
        return speech;
    }
    if (endedEarly_) return quiet;
    if (++pauseWindows_ < shortestPauseWindows) return pause;
    // The pause is long enough, below the threshold itself: the stretch is over.
    endedEarly_ = true;
    return quiet;
}

bool SileroSpeechGate::hearsSpeech(const SherpaOnnxVoiceActivityDetector* detector, const std::vector<float>& window) {
    library_.detectorAcceptWaveform(detector, window.data(), static_cast<int32_t>(windowSamples));
    bool speech = library_.detectorHearsSpeech(detector) != 0;
    // The detector also queues each finished stretch's audio, which the gate does not use.
    library_.detectorClearSegments(detector);
    return speech;
}

}  // namespace harkline
