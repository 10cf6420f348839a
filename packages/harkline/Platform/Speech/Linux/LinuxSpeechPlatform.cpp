#include "harkline/Platform/Speech/Linux/LinuxSpeechPlatform.h"

#include <algorithm>
#include <stdexcept>

#include "harkline/Platform/Speech/LocaleIdentifier.h"
#include "harkline/Platform/Speech/PocketSphinx/PocketSphinxDecoder.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxDecoder.h"
#include "harkline/Platform/Speech/SherpaOnnx/SileroSpeechGate.h"
#include "harkline/Platform/Speech/WarmEngine/SpeechDecoderSource.h"

namespace harkline {
namespace {

constexpr const char* pocketSphinxEngine = "pocketsphinx";

// Our installation records every file's digest and time after its trial load; a
// sherpa-onnx model without them could end the process that loads it.
bool needsTrial(const InstalledSpeechModel& model) {
    return SherpaOnnxStreamingModel::isEngine(model.manifest.engine) &&
           std::any_of(model.manifest.files.begin(), model.manifest.files.end(),
                       [](const SpeechModelFile& file) { return !file.sha256 || !file.modified; });
}

class StreamingDecoderAnalyzer final : public SpeechAnalyzer {
public:
    StreamingDecoderAnalyzer(std::optional<InstalledSpeechModel> model, std::shared_ptr<SpeechTranscriber> module,
                             cli::Logger logger, std::optional<SpeechModelTrial> trial)
        : model_(std::move(model)), module_(std::move(module)), logger_(std::move(logger)), trial_(std::move(trial)) {}

    void load(const AudioFormat& format) override {
        if (format.commonFormat != AudioCommonFormat::pcmFormatInt16 || format.sampleRate != 16000.0 ||
            format.channelCount != 1)
            throw std::runtime_error("the speech engines transcribe 16000 Hz mono 16-bit audio only");
        const auto& locale = module_->locale();
        if (!model_)
            throw std::runtime_error("speech model for " + locale + " is not installed; run `harkline assets.download --locale " +
                                     locale + "`");
        if (trial_ && needsTrial(*model_)) {
            AssetInstallationProgress uncancelled;
            (*trial_)(*model_, uncancelled);
        }
        decoder_ = SpeechDecoderSource::forThisUser(logger_).decoderFor(*model_);
    }

    void feed(const AudioPCMBuffer& buffer, const SpeechResultHandler& onResult) override {
        if (!decoder_) throw std::logic_error("feed before load");
        handOn(decoder_->feed(buffer.int16ChannelData(0), buffer.frameLength()), onResult);
    }

    void finishUtterance(const SpeechResultHandler& onResult) override {
        if (!decoder_) throw std::logic_error("finishUtterance before load");
        handOn(decoder_->finish(), onResult);
    }

    void finish(const SpeechResultHandler& onResult) override {
        if (decoder_) handOn(decoder_->finish(), onResult);
    }

private:
    static void handOn(std::vector<StreamingDecoder::Hypothesis> hypotheses, const SpeechResultHandler& onResult) {
        for (auto& hypothesis : hypotheses) onResult(SpeechTranscriptionResult{std::move(hypothesis.text), hypothesis.isFinal});
    }

    std::optional<InstalledSpeechModel> model_;
    std::shared_ptr<SpeechTranscriber> module_;
    cli::Logger logger_;
    std::optional<SpeechModelTrial> trial_;
    std::unique_ptr<StreamingDecoder> decoder_;
};

}  // namespace

std::optional<InstalledSpeechModel> systemModel(const std::vector<SpeechModelSource>& systemModels,
                                                const std::string& locale) {
    for (const auto& source : systemModels) {
        if (source.locale != locale || !source.isPresent()) continue;
        try {
            return InstalledSpeechModel{source.manifest(), source.directory};
        } catch (const std::exception&) {
            return std::nullopt;  // vanished while being listed
        }
    }
    return std::nullopt;
}

bool LinuxSpeechPlatform::isKnownEngine(const std::string& engine) {
    return engine == pocketSphinxEngine || SherpaOnnxStreamingModel::isEngine(engine);
}

std::unique_ptr<StreamingDecoder> LinuxSpeechPlatform::loadDecoder(const InstalledSpeechModel& model,
                                                                   const cli::Logger& logger, EngineOutput engineOutput) {
    model.verifyFiles();
    const auto& engine = model.manifest.engine;
    if (SherpaOnnxStreamingModel::isEngine(engine))
        return std::make_unique<SherpaOnnxDecoder>(
            std::make_shared<const SherpaOnnxRecognizer>(SherpaOnnxStreamingModel::inspect(model), logger, engineOutput));
    if (engine != pocketSphinxEngine)
        throw std::runtime_error("speech model for " + model.manifest.locale + " is made for the unknown engine " + engine);
    auto acousticModel = model.component("acousticModel");
    auto languageModel = model.component("languageModel");
    auto dictionary = model.component("dictionary");
    if (!acousticModel || !languageModel || !dictionary)
        throw std::runtime_error("speech model for " + model.manifest.locale + " lacks a part pocketsphinx needs");
    return std::make_unique<PocketSphinxDecoder>(PocketSphinxDecoder::ModelPaths{*acousticModel, *languageModel, *dictionary});
}

bool LinuxSpeechPlatform::isTranscriberAvailable() const { return !knownLocales().empty(); }

std::optional<std::string> LinuxSpeechPlatform::supportedLocale(const std::string& locale) const {
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

std::shared_ptr<SpeechTranscriber> LinuxSpeechPlatform::makeTranscriber(const std::string& locale,
                                                                        TranscriptionPreset preset) const {
    return std::make_shared<SpeechTranscriber>(locale, preset);
}

std::unique_ptr<SpeechAnalyzer> LinuxSpeechPlatform::makeAnalyzer(std::shared_ptr<SpeechTranscriber> module) const {
    auto model = modelFor(module->locale());
    return std::make_unique<StreamingDecoderAnalyzer>(std::move(model), std::move(module), logger_, trial_);
}

std::unique_ptr<SpeechGate> LinuxSpeechPlatform::makeSpeechGate() const {
    if (!speechGateModel_) return nullptr;
    return std::make_unique<SileroSpeechGate>(*speechGateModel_, logger_);
}

std::optional<std::string> LinuxSpeechPlatform::speechGateProblem() const {
    if (!speechGateModel_) return "the speech gate is switched off (TESSARYN_SPEECH_GATE=off)";
    return SileroSpeechGate::modelProblem(*speechGateModel_);
}

std::optional<InstalledSpeechModel> LinuxSpeechPlatform::modelFor(const std::string& locale) const {
    if (auto stored = store_.recordedModel(locale); stored && isKnownEngine(stored->manifest.engine)) return stored;
    return systemModel(systemModels_, locale);
}

std::vector<std::string> LinuxSpeechPlatform::knownLocales() const {
    std::vector<std::string> known;
    for (const auto& locale : store_.recordedLocales())
        if (auto model = store_.recordedModel(locale); model && isKnownEngine(model->manifest.engine))
            known.push_back(locale);
    for (const auto& source : systemModels_)
        if (source.isPresent()) known.push_back(source.locale);
    std::sort(known.begin(), known.end());
    known.erase(std::unique(known.begin(), known.end()), known.end());
    return known;
}

}  // namespace harkline
