#include "harkline/Platform/Speech/PocketSphinx/PocketSphinxSpeechPlatform.h"

#include <algorithm>
#include <stdexcept>

#include "harkline/Platform/Speech/ChannelSpeechTranscriber.h"
#include "harkline/Platform/Speech/LocaleIdentifier.h"
#include "harkline/Platform/Speech/PocketSphinx/PocketSphinxDecoder.h"

namespace harkline {
namespace {

class PocketSphinxAnalyzer final : public SpeechAnalyzer {
public:
    PocketSphinxAnalyzer(SpeechModelStore store, std::shared_ptr<SpeechTranscriber> module)
        : store_(std::move(store)), module_(std::move(module)) {}

    void prepareToAnalyze(const AudioFormat& format) override {
        if (format.commonFormat != AudioCommonFormat::pcmFormatInt16 || format.sampleRate != 16000.0 ||
            format.channelCount != 1)
            throw std::runtime_error("pocketsphinx transcribes 16000 Hz mono 16-bit audio only");
        const auto& locale = module_->locale();
        auto model = store_.installedModel(locale);
        if (!model)
            throw std::runtime_error("speech model for " + locale + " is not installed; run `harkline assets.download --locale " +
                                     locale + "`");
        if (model->manifest.engine != PocketSphinxSpeechPlatform::engineName)
            throw std::runtime_error("speech model for " + locale + " is made for " + model->manifest.engine +
                                     ", not pocketsphinx");
        auto acousticModel = model->component("acousticModel");
        auto languageModel = model->component("languageModel");
        auto dictionary = model->component("dictionary");
        if (!acousticModel || !languageModel || !dictionary)
            throw std::runtime_error("speech model for " + locale + " lacks a part pocketsphinx needs");
        decoder_.emplace(PocketSphinxDecoder::ModelPaths{*acousticModel, *languageModel, *dictionary});
    }

    void start(AsyncStream<AnalyzerInput>& inputSequence) override {
        if (!decoder_) throw std::logic_error("start before prepareToAnalyze");
        while (auto input = inputSequence.next()) {
            const auto& buffer = input->buffer;
            send(decoder_->process(buffer.int16ChannelData(0), buffer.frameLength()));
        }
    }

    void finalizeAndFinishThroughEndOfInput() override {
        if (decoder_) {
            if (auto final = decoder_->finish()) send({std::move(*final)});
        }
        module_->results()->finish();
    }

private:
    void send(std::vector<PocketSphinxDecoder::Hypothesis> hypotheses) {
        for (auto& hypothesis : hypotheses)
            module_->results()->send(SpeechTranscriptionResult{std::move(hypothesis.text), hypothesis.isFinal});
    }

    SpeechModelStore store_;
    std::shared_ptr<SpeechTranscriber> module_;
    std::optional<PocketSphinxDecoder> decoder_;
};

}  // namespace

bool PocketSphinxSpeechPlatform::hasSpeechAnalyzer() const {
    return std::any_of(sources_.begin(), sources_.end(), [](const auto& source) { return source.isPresent(); });
}

bool PocketSphinxSpeechPlatform::isTranscriberAvailable() const { return !knownLocales().empty(); }

std::optional<std::string> PocketSphinxSpeechPlatform::supportedLocale(const std::string& locale) const {
    auto canonical = canonicalLocaleIdentifier(locale);
    if (!canonical) return std::nullopt;
    auto known = knownLocales();
    if (std::find(known.begin(), known.end(), *canonical) != known.end()) return canonical;
    // A bare language ("en") stands for the first of its regions we have.
    if (canonical->find('-') == std::string::npos) {
        for (const auto& candidate : known)
            if (localeLanguage(candidate) == *canonical) return candidate;
    }
    return std::nullopt;
}

std::shared_ptr<SpeechTranscriber> PocketSphinxSpeechPlatform::makeTranscriber(const std::string& locale,
                                                                               TranscriptionPreset preset) const {
    return std::make_shared<ChannelSpeechTranscriber>(locale, preset);
}

std::unique_ptr<SpeechAnalyzer> PocketSphinxSpeechPlatform::makeAnalyzer(std::shared_ptr<SpeechTranscriber> module) const {
    return std::make_unique<PocketSphinxAnalyzer>(store_, std::move(module));
}

std::vector<std::string> PocketSphinxSpeechPlatform::knownLocales() const {
    auto known = store_.installedLocales();
    for (const auto& source : sources_)
        if (source.engine == engineName && source.isPresent()) known.push_back(source.locale);
    std::sort(known.begin(), known.end());
    known.erase(std::unique(known.begin(), known.end()), known.end());
    return known;
}

}  // namespace harkline
