#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Transcription/SpeechGate.h"
#include "harkline/Transcription/SpeechPassageCutter.h"

struct SherpaOnnxVoiceActivityDetector;

namespace harkline {

struct SherpaOnnxLibrary;

// The speech gate on the Silero VAD v5 model, run by sherpa-onnx's voice activity
// detector a window of 32 ms at a time. The model file is part of the product: it is
// pinned by size and SHA-256, and a file that differs is not loaded.
//
// Inside a stretch the detector counts a pause only from windows that score below the
// threshold less 0.15, and tells nothing of a window's own score; so a second detector,
// whose threshold is 0.15 higher and which needs no shortest pause, tells which windows of
// a stretch score below the gate's threshold: the pauses, held back until speech resumes.
// It listens only during stretches, brought up to date at each start with the audio
// heard before it, so that silence and noise cost the one detector. A pause of
// shortestPauseSeconds below the threshold ends the stretch, whether or not the detector,
// still above its lower mark, has ended it.
class SileroSpeechGate final : public SpeechGate {
public:
    // Fixed settings, chosen by measurement (README, "Speech gate").
    static constexpr float threshold = 0.5f;
    static constexpr float shortestPauseSeconds = 0.5f;
    static constexpr float shortestSpeechSeconds = 0.25f;
    static constexpr float longestSpeechSeconds = 30.0f;
    // Detection lags the start of speech by the shortest speech and a window: the audio
    // kept before a start covers that and a little more.
    static constexpr float secondsBeforeStart = 0.55f;
    // Of a pause that ends its stretch, what is decoded so that the last word ends whole.
    static constexpr float pauseTailSeconds = 0.1f;

    static constexpr const char* modelFileName = "silero_vad.onnx";
    static constexpr std::uintmax_t modelBytes = 2327524;
    static constexpr const char* modelSha256 = "1a153a22f4509e292a94e67d6f9b85e8deb25b4988682b7e174c65279d8788e3";

    // Why the model file cannot be used (missing, or not the pinned file), or none.
    static std::optional<std::string> modelProblem(const std::filesystem::path& model);

    // Checks and loads the model (and the sherpa-onnx library once per process); throws
    // std::runtime_error saying why it cannot.
    SileroSpeechGate(const std::filesystem::path& model, const cli::Logger& logger);
    ~SileroSpeechGate() override;
    SileroSpeechGate(const SileroSpeechGate&) = delete;
    SileroSpeechGate& operator=(const SileroSpeechGate&) = delete;

    std::vector<Passage> listen(const std::int16_t* samples, std::size_t count) override;
    std::vector<Passage> finish() override;

private:
    SpeechPassageCutter::Verdict judge(const std::int16_t* window);
    const SherpaOnnxVoiceActivityDetector* createDetector(const std::string& model, float detectorThreshold,
                                                          float shortestPause, float shortestSpeech,
                                                          const cli::Logger& logger);
    bool hearsSpeech(const SherpaOnnxVoiceActivityDetector* detector, const std::vector<float>& window);

    const SherpaOnnxLibrary& library_;
    // Decides where stretches start and end.
    const SherpaOnnxVoiceActivityDetector* detector_ = nullptr;
    // Hears, inside a stretch, whether a window scores above the threshold.
    const SherpaOnnxVoiceActivityDetector* scorer_ = nullptr;
    bool scoring_ = false;
    // Pause windows in a row, and whether they ended the stretch before the detector did.
    std::size_t pauseWindows_ = 0;
    bool endedEarly_ = false;
    SpeechPassageCutter cutter_;
    std::vector<float> window_;
    // The last windows heard outside a stretch, for the scorer to catch up on.
    std::deque<std::vector<float>> recentWindows_;
};

}  // namespace harkline
