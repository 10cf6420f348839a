#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "harkline/Platform/Speech/SpeechModels.h"

namespace harkline {

// Speech models in memory, for tests: a decoder that recognises nothing but gives the
// hypotheses and failures a test scripts, installations that pass through scripted
// fractions, and a record of what was asked and fed.
class InMemorySpeechModels final : public SpeechModels {
public:
    using Hypothesis = StreamingDecoder::Hypothesis;

    struct Script {
        // Requested identifier -> the serving locale; anything else has no model.
        std::map<std::string, std::string> servingLocales{{"en-US", "en-US"}};
        // Hypotheses given once the decoder has been fed this many times (from 1).
        std::vector<std::pair<std::size_t, Hypothesis>> hypothesesAfterFeeds;
        // Hypotheses given at each finish (a stretch the gate heard end, or the end of input).
        std::vector<Hypothesis> hypothesesAtFinish;
        // Each, when set, makes that step throw std::runtime_error with this description:
        // opening the decoder, its first feed, its finish.
        std::optional<std::string> openFailure;
        std::optional<std::string> feedFailure;
        std::optional<std::string> finishFailure;
        // No speech gate; when gateFailure is set, opening one throws std::runtime_error
        // with that description (also the gate's problem).
        std::optional<std::string> gateFailure;

        // The formatting model by locale; locales not named have none. Finals are formatted
        // without a model in any case.
        std::map<std::string, FormattingModelState> formattingModels;

        std::vector<std::string> supportedLocales;
        std::vector<std::string> installedLocales;
        // Status by locale; locales not named are unsupported. A finished installation
        // sets its locale to installed.
        std::map<std::string, ModelStatus> statuses;
        // installation() throws std::runtime_error with this description.
        std::optional<std::string> installationFailure;
        // installation() returns none.
        bool nothingToInstall = false;
        // The fractions an installation passes through, each held for stepDuration (a
        // cancel through the marker cuts the wait short); the installation starts at the first.
        std::vector<double> fractions{0.5};
        std::chrono::milliseconds stepDuration{0};
        // The installation throws std::runtime_error with this description at its end.
        std::optional<std::string> installFailure;
        // A cancel seen too late to stop it: the installation finishes anyway.
        bool finishesDespiteCancel = false;
    };

    struct Record {
        // "feed" (once per run of feeds), "finish"
        std::vector<std::string> decoderCalls;
        std::optional<std::string> openedLocale;
        std::vector<std::size_t> feedLengths;
        std::vector<std::int16_t> samples;

        std::vector<std::string> statusQueries;   // locale of each status call
        std::vector<std::string> installations;   // locale of each installation call
        int installationsStarted = 0;
        int installationsCancelled = 0;
    };

    explicit InMemorySpeechModels(Script script) : state_(std::make_shared<State>(std::move(script))) {}

    std::optional<std::string> servingLocale(const std::string& locale) const override;
    bool hasAnyModel() const override { return !state_->script.servingLocales.empty(); }
    std::unique_ptr<StreamingDecoder> openDecoder(const std::string& locale) const override;

    std::unique_ptr<TextFormatter> openTextFormatter(const std::string& locale) const override;
    FormattingModelState formattingModel(const std::string& locale) const override;

    std::vector<std::string> supportedLocales() const override { return state_->script.supportedLocales; }
    std::vector<std::string> installedLocales() const override { return state_->script.installedLocales; }
    ModelStatus status(const std::string& locale) const override;
    std::unique_ptr<AssetInstallationRequest> installation(const std::string& locale) const override;

    std::unique_ptr<SpeechGate> openSpeechGate() const override;
    std::optional<std::string> speechGateProblem() const override { return state_->script.gateFailure; }
    std::optional<std::filesystem::path> personalVocabularyFile() const override { return std::nullopt; }
    std::optional<PersonalVocabulary> personalVocabulary() const override { return std::nullopt; }

    Record record() const;
    // Returns once `count` installations have started and made their first progress
    // report: a latch for tests that act on a running installation from another thread.
    void waitForInstallations(int count) const;

    // Shared with the decoders and installations made, which may outlive the models.
    struct State {
        explicit State(Script scriptToPlay) : script(std::move(scriptToPlay)) {}
        const Script script;
        mutable std::mutex mutex;
        mutable std::condition_variable installationStarted;
        std::map<std::string, ModelStatus> statuses = script.statuses;
        Record record;
    };

private:
    std::shared_ptr<State> state_;
};

}  // namespace harkline
