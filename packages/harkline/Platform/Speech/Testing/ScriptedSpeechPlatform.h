#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "harkline/Platform/Speech/SpeechPlatform.h"
#include "harkline/Platform/Speech/Testing/ScriptedSpeechGate.h"

namespace harkline {

// An in-memory speech platform for tests: it recognises nothing, but gives the results
// and failures a test scripts, and records what it was asked and fed.
class ScriptedSpeechPlatform final : public SpeechPlatform {
public:
    struct Script {
        bool hasSpeechAnalyzer = true;
        bool transcriberAvailable = true;
        // Requested identifier -> the supported equivalent; anything else is unsupported.
        std::map<std::string, std::string> supportedLocales{{"en-US", "en-US"}};
        // Results given once the analyzer has been fed this many buffers (from 1).
        std::vector<std::pair<std::size_t, SpeechTranscriptionResult>> resultsAfterInputs;
        // Results given while finalising.
        std::vector<SpeechTranscriptionResult> resultsAtFinish;
        // Each, when set, makes that step throw std::runtime_error with this description:
        // feed at the first buffer, finish after its results.
        std::optional<std::string> loadFailure;
        std::optional<std::string> feedFailure;
        std::optional<std::string> finishFailure;
        // Results given at the end of each utterance (the gate heard a stretch end).
        std::vector<SpeechTranscriptionResult> resultsAtUtteranceEnd;
        // The speech gate: none without a script; when gateFailure is set, making it
        // throws std::runtime_error with that description (also the gate's problem).
        std::optional<ScriptedSpeechGate::Script> gate;
        std::optional<std::string> gateFailure;
    };

    // What the platform saw.
    struct Record {
        // "makeTranscriber", "load", "feed" (once per run of buffers), "finishUtterance", "finish"
        std::vector<std::string> calls;
        std::string transcriberLocale;
        std::optional<TranscriptionPreset> preset;
        std::optional<AudioFormat> loadedFormat;
        std::vector<std::uint32_t> inputFrameLengths;
        std::vector<std::int16_t> samples;
    };

    explicit ScriptedSpeechPlatform(Script script) : state_(std::make_shared<State>(std::move(script))) {}

    bool hasSpeechAnalyzer() const override { return state_->script.hasSpeechAnalyzer; }
    bool isTranscriberAvailable() const override { return state_->script.transcriberAvailable; }
    std::optional<std::string> supportedLocale(const std::string& locale) const override;
    std::shared_ptr<SpeechTranscriber> makeTranscriber(const std::string& locale,
                                                       TranscriptionPreset preset) const override;
    std::unique_ptr<SpeechAnalyzer> makeAnalyzer(std::shared_ptr<SpeechTranscriber> module) const override;
    std::unique_ptr<SpeechGate> makeSpeechGate() const override;
    std::optional<std::string> speechGateProblem() const override { return state_->script.gateFailure; }

    Record record() const;

    // Shared with the transcribers and analyzers made, which may outlive the platform.
    struct State {
        explicit State(Script scriptToPlay) : script(std::move(scriptToPlay)) {}
        const Script script;
        mutable std::mutex mutex;
        Record record;
    };

private:
    std::shared_ptr<State> state_;
};

}  // namespace harkline
