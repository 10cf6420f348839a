#include "harkline/Platform/Speech/Testing/InMemorySpeechModels.h"

#include <stdexcept>

#include "harkline/Platform/Speech/Download/InstallationLoop.h"
#include "harkline/Transcription/CasingAndSpacingFormatter.h"

namespace harkline {
namespace {

using State = InMemorySpeechModels::State;

class ScriptedDecoder final : public StreamingDecoder {
public:
    explicit ScriptedDecoder(std::shared_ptr<State> state) : state_(std::move(state)) {}

    std::vector<Hypothesis> feed(const std::int16_t* samples, std::size_t count) override {
        std::size_t feeds;
        {
            std::lock_guard lock(state_->mutex);
            auto& record = state_->record;
            if (record.decoderCalls.empty() || record.decoderCalls.back() != "feed") record.decoderCalls.emplace_back("feed");
            record.feedLengths.push_back(count);
            record.samples.insert(record.samples.end(), samples, samples + count);
            feeds = record.feedLengths.size();
        }
        if (state_->script.feedFailure) throw std::runtime_error(*state_->script.feedFailure);
        std::vector<Hypothesis> hypotheses;
        for (const auto& [after, hypothesis] : state_->script.hypothesesAfterFeeds)
            if (after == feeds) hypotheses.push_back(hypothesis);
        return hypotheses;
    }

    std::vector<Hypothesis> finish() override {
        {
            std::lock_guard lock(state_->mutex);
            state_->record.decoderCalls.emplace_back("finish");
        }
        if (state_->script.finishFailure) throw std::runtime_error(*state_->script.finishFailure);
        return state_->script.hypothesesAtFinish;
    }

private:
    std::shared_ptr<State> state_;
};

class InMemoryInstallation final : public AssetInstallationRequest {
public:
    InMemoryInstallation(std::shared_ptr<State> state, std::string locale)
        : state_(std::move(state)), locale_(std::move(locale)) {
        // The first fraction is there before the installation starts, so the first report sees it.
        if (!state_->script.fractions.empty()) progress_.setFractionCompleted(state_->script.fractions.front());
    }

    AssetInstallationProgress& progress() override { return progress_; }

    // Waits in the real installation loop, so that reports and the cancel marker are
    // served as a real installation serves them.
    void downloadAndInstall(const InstallationWatch& watch) override {
        const auto& script = state_->script;
        InstallationLoop loop(progress_, watch);
        {
            std::lock_guard lock(state_->mutex);
            ++state_->record.installationsStarted;
            state_->installationStarted.notify_all();
        }
        for (double fraction : script.fractions) {
            progress_.setFractionCompleted(fraction);
            try {
                loop.waitUntilReadable(-1, std::chrono::steady_clock::now() + script.stepDuration);  // nothing but time
            } catch (const AssetInstallationCancelled&) {
                if (script.finishesDespiteCancel) continue;
                std::lock_guard lock(state_->mutex);
                ++state_->record.installationsCancelled;
                throw;
            }
        }
        if (script.installFailure) throw std::runtime_error(*script.installFailure);
        progress_.setFractionCompleted(1.0);
        std::lock_guard lock(state_->mutex);
        state_->statuses[locale_] = ModelStatus::installed;
    }

private:
    std::shared_ptr<State> state_;
    std::string locale_;
    AssetInstallationProgress progress_;
};

}  // namespace

std::optional<std::string> InMemorySpeechModels::servingLocale(const std::string& locale) const {
    auto found = state_->script.servingLocales.find(locale);
    if (found == state_->script.servingLocales.end()) return std::nullopt;
    return found->second;
}

std::unique_ptr<TextFormatter> InMemorySpeechModels::openTextFormatter(const std::string&) const {
    return std::make_unique<CasingAndSpacingFormatter>();
}

FormattingModelState InMemorySpeechModels::formattingModel(const std::string& locale) const {
    auto found = state_->script.formattingModels.find(locale);
    return found == state_->script.formattingModels.end() ? FormattingModelState{} : found->second;
}

std::unique_ptr<StreamingDecoder> InMemorySpeechModels::openDecoder(const std::string& locale) const {
    {
        std::lock_guard lock(state_->mutex);
        state_->record.openedLocale = locale;
    }
    if (state_->script.openFailure) throw std::runtime_error(*state_->script.openFailure);
    return std::make_unique<ScriptedDecoder>(state_);
}

ModelStatus InMemorySpeechModels::status(const std::string& locale) const {
    std::lock_guard lock(state_->mutex);
    state_->record.statusQueries.push_back(locale);
    auto found = state_->statuses.find(locale);
    return found == state_->statuses.end() ? ModelStatus::unsupported : found->second;
}

std::unique_ptr<AssetInstallationRequest> InMemorySpeechModels::installation(const std::string& locale) const {
    {
        std::lock_guard lock(state_->mutex);
        state_->record.installations.push_back(locale);
    }
    if (state_->script.installationFailure) throw std::runtime_error(*state_->script.installationFailure);
    if (state_->script.nothingToInstall) return nullptr;
    return std::make_unique<InMemoryInstallation>(state_, locale);
}

std::unique_ptr<SpeechGate> InMemorySpeechModels::openSpeechGate() const {
    if (state_->script.gateFailure) throw std::runtime_error(*state_->script.gateFailure);
    return nullptr;
}

InMemorySpeechModels::Record InMemorySpeechModels::record() const {
    std::lock_guard lock(state_->mutex);
    return state_->record;
}

void InMemorySpeechModels::waitForInstallations(int count) const {
    std::unique_lock lock(state_->mutex);
    state_->installationStarted.wait(lock, [&] { return state_->record.installationsStarted >= count; });
}

}  // namespace harkline
