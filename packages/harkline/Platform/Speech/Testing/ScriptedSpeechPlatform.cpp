#include "harkline/Platform/Speech/Testing/ScriptedSpeechPlatform.h"

#include <stdexcept>

#include "harkline/Platform/Speech/ChannelSpeechTranscriber.h"

namespace harkline {
namespace {

using State = ScriptedSpeechPlatform::State;

class ScriptedAnalyzer final : public SpeechAnalyzer {
public:
    ScriptedAnalyzer(std::shared_ptr<State> state, std::shared_ptr<SpeechTranscriber> module)
        : state_(std::move(state)), module_(std::move(module)) {}

    void load(const AudioFormat& format) override {
        note("load");
        {
            std::lock_guard lock(state_->mutex);
            state_->record.loadedFormat = format;
        }
        if (state_->script.loadFailure) throw std::runtime_error(*state_->script.loadFailure);
    }

    void feed(AsyncStream<AnalyzerInput>& inputSequence) override {
        note("feed");
        std::size_t consumed = 0;
        sendResultsAfter(consumed);
        while (auto input = inputSequence.next()) {
            ++consumed;
            {
                std::lock_guard lock(state_->mutex);
                auto& buffer = input->buffer;
                state_->record.inputFrameLengths.push_back(buffer.frameLength());
                const auto* samples = buffer.int16ChannelData(0);
                state_->record.samples.insert(state_->record.samples.end(), samples, samples + buffer.frameLength());
            }
            sendResultsAfter(consumed);
        }
        if (state_->script.feedFailure) throw std::runtime_error(*state_->script.feedFailure);
    }

    void finish() override {
        note("finish");
        if (state_->script.finishFailure) throw std::runtime_error(*state_->script.finishFailure);
        auto results = module_->results();
        for (const auto& result : state_->script.resultsAtFinish) results->send(result);
        if (state_->script.resultsFailure)
            results->fail(std::make_exception_ptr(std::runtime_error(*state_->script.resultsFailure)));
        else
            results->finish();
    }

private:
    void note(const char* call) {
        std::lock_guard lock(state_->mutex);
        state_->record.calls.emplace_back(call);
    }

    void sendResultsAfter(std::size_t consumed) {
        for (const auto& [after, result] : state_->script.resultsAfterInputs)
            if (after == consumed) module_->results()->send(result);
    }

    std::shared_ptr<State> state_;
    std::shared_ptr<SpeechTranscriber> module_;
};

}  // namespace

std::optional<std::string> ScriptedSpeechPlatform::supportedLocale(const std::string& locale) const {
    auto found = state_->script.supportedLocales.find(locale);
    if (found == state_->script.supportedLocales.end()) return std::nullopt;
    return found->second;
}

std::shared_ptr<SpeechTranscriber> ScriptedSpeechPlatform::makeTranscriber(const std::string& locale,
                                                                           TranscriptionPreset preset) const {
    std::lock_guard lock(state_->mutex);
    state_->record.calls.emplace_back("makeTranscriber");
    state_->record.transcriberLocale = locale;
    state_->record.preset = preset;
    return std::make_shared<ChannelSpeechTranscriber>(locale, preset);
}

std::unique_ptr<SpeechAnalyzer> ScriptedSpeechPlatform::makeAnalyzer(std::shared_ptr<SpeechTranscriber> module) const {
    return std::make_unique<ScriptedAnalyzer>(state_, std::move(module));
}

ScriptedSpeechPlatform::Record ScriptedSpeechPlatform::record() const {
    std::lock_guard lock(state_->mutex);
    return state_->record;
}

}  // namespace harkline
