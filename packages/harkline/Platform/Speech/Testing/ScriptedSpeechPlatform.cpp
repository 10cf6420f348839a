#include "harkline/Platform/Speech/Testing/ScriptedSpeechPlatform.h"

#include <stdexcept>


namespace harkline {
namespace {

using State = ScriptedSpeechPlatform::State;

class ScriptedAnalyzer final : public SpeechAnalyzer {
public:
    explicit ScriptedAnalyzer(std::shared_ptr<State> state) : state_(std::move(state)) {}

    void load(const AudioFormat& format) override {
        note("load");
        {
            std::lock_guard lock(state_->mutex);
            state_->record.loadedFormat = format;
        }
        if (state_->script.loadFailure) throw std::runtime_error(*state_->script.loadFailure);
    }

    void feed(const AudioPCMBuffer& buffer, const SpeechResultHandler& onResult) override {
        std::size_t consumed;
        {
            std::lock_guard lock(state_->mutex);
            if (state_->record.calls.empty() || state_->record.calls.back() != "feed")
                state_->record.calls.emplace_back("feed");
            state_->record.inputFrameLengths.push_back(buffer.frameLength());
            const auto* samples = buffer.int16ChannelData(0);
            state_->record.samples.insert(state_->record.samples.end(), samples, samples + buffer.frameLength());
            consumed = state_->record.inputFrameLengths.size();
        }
        if (state_->script.feedFailure) throw std::runtime_error(*state_->script.feedFailure);
        for (const auto& [after, result] : state_->script.resultsAfterInputs)
            if (after == consumed) onResult(result);
    }

    void finishUtterance(const SpeechResultHandler& onResult) override {
        note("finishUtterance");
        for (const auto& result : state_->script.resultsAtUtteranceEnd) onResult(result);
    }

    void finish(const SpeechResultHandler& onResult) override {
        note("finish");
        for (const auto& result : state_->script.resultsAtFinish) onResult(result);
        if (state_->script.finishFailure) throw std::runtime_error(*state_->script.finishFailure);
    }

private:
    void note(const char* call) {
        std::lock_guard lock(state_->mutex);
        state_->record.calls.emplace_back(call);
    }

    std::shared_ptr<State> state_;
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
    return std::make_shared<SpeechTranscriber>(locale, preset);
}

std::unique_ptr<SpeechAnalyzer> ScriptedSpeechPlatform::makeAnalyzer(std::shared_ptr<SpeechTranscriber> /*module*/) const {
    return std::make_unique<ScriptedAnalyzer>(state_);
}

std::unique_ptr<SpeechGate> ScriptedSpeechPlatform::makeSpeechGate() const {
    if (state_->script.gateFailure) throw std::runtime_error(*state_->script.gateFailure);
    if (!state_->script.gate) return nullptr;
    return std::make_unique<ScriptedSpeechGate>(*state_->script.gate);
}

ScriptedSpeechPlatform::Record ScriptedSpeechPlatform::record() const {
    std::lock_guard lock(state_->mutex);
    return state_->record;
}

}  // namespace harkline
