#include "harkline/Platform/Speech/Linux/StoredSpeechModels.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "cli-frame/Files/BoundedFile.h"
#include "harkline/Platform/Speech/Download/CurlModelFileFetcher.h"
#include "harkline/Platform/Speech/Download/InstallationLoop.h"
#include "harkline/Platform/Speech/Download/ModelDownload.h"
#include "harkline/Platform/Speech/LocaleIdentifier.h"
#include "harkline/Platform/Speech/ModelRoles.h"
#include "harkline/Platform/Speech/Models/ModelInstallationLock.h"
#include "harkline/Platform/Speech/PocketSphinx/PocketSphinxDecoder.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxDecoder.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxHotwords.h"
#include "harkline/Platform/Speech/SherpaOnnx/SileroSpeechGate.h"
#include "harkline/Platform/Speech/WarmEngine/SpeechDecoderSource.h"
#include "harkline/Transcription/CasingAndSpacingFormatter.h"

namespace harkline {
namespace {

namespace fs = std::filesystem;

constexpr const char* pocketSphinxEngine = "pocketsphinx";

// Thousands of phrases; a file larger than that is no vocabulary a person wrote.
constexpr std::uintmax_t largestVocabularyFile = 256 * 1024;

// The hotwords of one transcription: the vocabulary's phrases that a transducer can spell.
std::string hotwordsFor(const SherpaOnnxStreamingModel& model, const PersonalVocabulary& vocabulary,
                        const cli::Logger& logger) {
    if (vocabulary.phrases().empty()) return {};
    // The engine takes hotwords only with a transducer (and exits on them otherwise).
    if (!model.transducer) {
        logger.info("流式 CTC 模型不使用个人词表");
        return {};
    }
    return sherpaOnnxHotwords(vocabulary, model, logger);
}

// Read as the user left it: a missing file is no vocabulary, one that cannot be read (not
// a regular file, too large, unreadable) is left out of this transcription.
PersonalVocabulary readPersonalVocabulary(const std::optional<fs::path>& file, const cli::Logger& logger) {
    std::error_code unknown;
    if (!file || !fs::exists(fs::symlink_status(*file, unknown))) return {};
    try {
        return PersonalVocabulary::parse(cli::readBoundedFile(*file, largestVocabularyFile), logger);
    } catch (const std::exception& failure) {
        logger.info(std::string("个人词表不可用，本次转写不用它: ") + failure.what());
        return {};
    }
}

// Our installation records every file's digest and time after its trial load; a
// sherpa-onnx model without them could end the process that loads it.
bool needsTrial(const InstalledSpeechModel& model) {
    return SherpaOnnxStreamingModel::isEngine(model.manifest.engine) &&
           std::any_of(model.manifest.files.begin(), model.manifest.files.end(),
                       [](const SpeechModelFile& file) { return !file.sha256 || !file.modified; });
}

// A present system model as an installed one, where it lies; none when absent.
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

void sortUnique(std::vector<std::string>& locales) {
    std::sort(locales.begin(), locales.end());
    locales.erase(std::unique(locales.begin(), locales.end()), locales.end());
}

// The installed model is the catalogue's: same engine, roles, names, sizes and digests.
bool isCatalogModel(const SpeechModelManifest& installed, const CatalogModel& model) {
    SpeechModelManifest pinned{installed.locale, model.engine, model.components(), {}};
    for (const auto& file : model.files) pinned.files.push_back({file.name, file.size, file.sha256, std::nullopt});
    std::sort(pinned.files.begin(), pinned.files.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    return sameModelFiles(installed, pinned) &&
           std::equal(installed.files.begin(), installed.files.end(), pinned.files.begin(),
                      [](const SpeechModelFile& a, const SpeechModelFile& b) { return a.sha256 == b.sha256; });
}

// The same, for the files of the roles `inPart` accepts.
bool isCatalogModelPart(const SpeechModelManifest& installed, const CatalogModel& model, const RoleFilter& inPart) {
    CatalogModel part{model.locale, model.engine, {}};
    for (const auto& file : model.files)
        if (inPart(file.role())) part.files.push_back(file);
    return isCatalogModel(manifestPart(installed, inPart), part);
}

bool anyRole(const std::string&) { return true; }

bool namesFormattingModel(const std::map<std::string, std::string>& components) {
    return std::any_of(components.begin(), components.end(), [](const auto& role) { return isFormattingRole(role.first); });
}

// The files of the locale's recorded model that pass their checks and are the catalogue's
// (same name, size and SHA-256) are linked into the download folder, so that a damaged
// model is repaired by fetching only the files that fail; a file system without hard links
// gets copies.
void keepIntactFiles(const SpeechModelStore& store, const std::string& locale, const CatalogModel& model,
                     const fs::path& folder) {
    auto recorded = store.recordedModel(locale);
    if (!recorded) return;
    for (const auto& file : recorded->intactFiles()) {
        bool pinned = std::any_of(model.files.begin(), model.files.end(), [&](const CatalogModelFile& offered) {
            return offered.name == file.path && offered.size == file.size && offered.sha256 == file.sha256;
        });
        std::error_code error;
        if (!pinned || fs::exists(folder / file.path, error)) continue;
        fs::create_directories(folder, error);
        fs::create_hard_link(recorded->directory / file.path, folder / file.path, error);
        if (error) fs::copy_file(recorded->directory / file.path, folder / file.path, error);
    }
}

double fractionOf(std::uintmax_t done, std::uintmax_t total) {
    return total == 0 ? 0.0 : static_cast<double>(done) / static_cast<double>(total);
}

}  // namespace

bool StoredSpeechModels::isKnownEngine(const std::string& engine) {
    return engine == pocketSphinxEngine || SherpaOnnxStreamingModel::isEngine(engine);
}

std::string StoredSpeechModels::transcriptionHotwords(const InstalledSpeechModel& model,
                                                     const PersonalVocabulary& vocabulary, const cli::Logger& logger) {
    // Reading a model's metadata costs; a transcription without a vocabulary skips it.
    if (vocabulary.phrases().empty() || !SherpaOnnxStreamingModel::isEngine(model.manifest.engine)) return {};
    return hotwordsFor(SherpaOnnxStreamingModel::inspect(model), vocabulary, logger);
}

std::unique_ptr<StreamingDecoder> StoredSpeechModels::loadDecoder(const InstalledSpeechModel& model,
                                                                  const cli::Logger& logger, EngineOutput engineOutput,
                                                                  const PersonalVocabulary& vocabulary) {
    model.verifyFiles();
    const auto& engine = model.manifest.engine;
    if (SherpaOnnxStreamingModel::isEngine(engine)) {
        auto streamingModel = SherpaOnnxStreamingModel::inspect(model);
        auto hotwords = hotwordsFor(streamingModel, vocabulary, logger);
        auto recognizer =
            std::make_shared<const SherpaOnnxRecognizer>(streamingModel, logger, engineOutput, !hotwords.empty());
        return std::make_unique<SherpaOnnxDecoder>(std::move(recognizer), std::move(hotwords));
    }
    if (engine != pocketSphinxEngine)
        throw std::runtime_error("speech model for " + model.manifest.locale + " is made for the unknown engine " + engine);
    auto acousticModel = model.component("acousticModel");
    auto languageModel = model.component("languageModel");
    auto dictionary = model.component("dictionary");
    if (!acousticModel || !languageModel || !dictionary)
        throw std::runtime_error("speech model for " + model.manifest.locale + " lacks a part pocketsphinx needs");
    if (!vocabulary.phrases().empty()) logger.info("pocketsphinx 不使用个人词表");
    return std::make_unique<PocketSphinxDecoder>(PocketSphinxDecoder::ModelPaths{*acousticModel, *languageModel, *dictionary});
}

// Serving

bool StoredSpeechModels::hasAnyModel() const { return !servedLocales().empty(); }

std::optional<std::string> StoredSpeechModels::servingLocale(const std::string& locale) const {
    auto canonical = canonicalLocaleIdentifier(locale);
    if (!canonical) return std::nullopt;
    auto served = servedLocales();
    if (std::find(served.begin(), served.end(), *canonical) != served.end()) return canonical;
    if (canonical->find('-') == std::string::npos) {
        for (const auto& candidate : served)
            if (localeLanguage(candidate) == *canonical) return candidate;
    }
    return std::nullopt;
}

std::unique_ptr<StreamingDecoder> StoredSpeechModels::openDecoder(const std::string& locale) const {
    auto model = servingModel(locale);
    if (!model)
        throw std::runtime_error("speech model for " + locale + " is not installed; run `harkline assets.download --locale " +
                                 locale + "`");
    if (places_.trial && needsTrial(*model)) {
        AssetInstallationProgress uncancelled;
        InstallationLoop nothingWatched(uncancelled, {});
        places_.trial(*model, nothingWatched);
    }
    // A damaged formatting model leaves the dictation possible: only recognition is checked here.
    return SpeechDecoderSource::forThisUser(logger_).decoderFor(
        model->part(isRecognitionRole), readPersonalVocabulary(places_.personalVocabulary, logger_));
}

std::unique_ptr<TextFormatter> StoredSpeechModels::openTextFormatter(const std::string& locale) const {
    auto model = servingModel(locale);
    if (model && places_.formatting && namesFormattingModel(model->manifest.components)) {
        try {
            auto formatting = model->part(isFormattingRole);
            formatting.verifyFiles();
            return places_.formatting(formatting, logger_);
        } catch (const std::exception& failure) {
            logger_.error(std::string("格式化模型不可用，本次转写的最终结果只做大小写与空格整理: ") + failure.what());
        }
    }
    return std::make_unique<CasingAndSpacingFormatter>();
}

FormattingModelState StoredSpeechModels::formattingModel(const std::string& requested) const {
    using Presence = FormattingModelState::Presence;
    auto locale = canonicalLocaleIdentifier(requested);
    if (!locale) return {};
    if (auto model = servingModel(*locale); model && namesFormattingModel(model->manifest.components)) {
        try {
            model->part(isFormattingRole).verifyFiles("formatting model");
            return {Presence::installed, std::nullopt};
        } catch (const std::exception& damage) {
            return {Presence::damaged, damage.what()};
        }
    }
    // Missing: the recognition model offered is in place without it. A locale whose model is
    // not installed at all misses more than that, and its status says so.
    auto source = presentSource(*locale);
    auto offered = source ? std::nullopt : catalogModelIfReadable(*locale);
    bool offersFormatting =
        (source && namesFormattingModel(source->components)) || (offered && namesFormattingModel(offered->components()));
    if (offersFormatting && isInstalled(*locale, source, offered))
        return {Presence::missing, "formatting model for " + *locale + " is not installed; run `harkline assets.download --locale " +
                                       *locale + "`"};
    return {};
}

std::optional<InstalledSpeechModel> StoredSpeechModels::servingModel(const std::string& locale) const {
    if (auto stored = places_.store.recordedModel(locale); stored && isKnownEngine(stored->manifest.engine)) return stored;
    return systemModel(places_.systemModels, locale);
}

std::vector<std::string> StoredSpeechModels::servedLocales() const {
    std::vector<std::string> served;
    for (const auto& locale : places_.store.recordedLocales())
        if (auto model = places_.store.recordedModel(locale); model && isKnownEngine(model->manifest.engine))
            served.push_back(locale);
    for (const auto& source : places_.systemModels)
        if (source.isPresent()) served.push_back(source.locale);
    sortUnique(served);
    return served;
}

// Installing

std::vector<std::string> StoredSpeechModels::supportedLocales() const {
    auto locales = installedLocales();
    for (const auto& candidate : places_.sources)
        if (isKnownEngine(candidate.engine) && candidate.isPresent()) locales.push_back(candidate.locale);
    try {
        auto catalog = places_.catalog ? places_.catalog() : SpeechModelCatalog({});
        for (const auto& model : catalog.models())
            if (auto locale = canonicalLocaleIdentifier(model.locale); locale && isKnownEngine(model.engine))
                locales.push_back(*locale);
    } catch (const SpeechModelCatalogError&) {
        // Only a download reports a catalogue that cannot be read.
    }
    sortUnique(locales);
    return locales;
}

std::vector<std::string> StoredSpeechModels::installedLocales() const {
    auto candidates = places_.store.recordedLocales();
    for (const auto& model : places_.systemModels)
        if (model.isPresent()) candidates.push_back(model.locale);
    sortUnique(candidates);
    std::vector<std::string> locales;
    for (const auto& locale : candidates)
        if (isInstalled(locale, presentSource(locale), catalogModelIfReadable(locale))) locales.push_back(locale);
    return locales;
}

ModelStatus StoredSpeechModels::status(const std::string& requested) const {
    auto locale = canonicalLocaleIdentifier(requested);
    if (!locale) return ModelStatus::unsupported;
    if (ModelInstallationLock::isHeld(ModelInstallationLock::path(places_.store.modelsDirectory(), *locale)))
        return ModelStatus::installing;
    auto source = presentSource(*locale);
    auto offered = source ? std::nullopt : catalogModelIfReadable(*locale);
    if (isInstalled(*locale, source, offered)) return ModelStatus::installed;
    if (source || offered) return ModelStatus::available;
    return ModelStatus::unsupported;
}

std::unique_ptr<AssetInstallationRequest> StoredSpeechModels::installation(const std::string& requested) const {
    auto locale = canonicalLocaleIdentifier(requested);
    if (!locale) throw std::invalid_argument("\"" + requested + "\" is not a locale identifier");

    auto source = presentSource(*locale);
    auto offered = source ? std::nullopt : catalogModel(*locale);
    if (isComplete(*locale, source, offered)) return nothingToInstall(*locale);
    if (source)
        return std::make_unique<StagedModelInstallation>(places_.store.modelsDirectory(), std::move(*source), places_.trial);
    if (offered) return downloadInstallation(*locale, *offered);
    throw std::runtime_error("no speech model source for " + *locale + " on this machine");
}

// Nothing to install, but a killed installation may have left a whole model in staging
// (one killed right after its swap leaves the old one): free that space when the lock is ours.
std::unique_ptr<AssetInstallationRequest> StoredSpeechModels::nothingToInstall(const std::string& locale) const {
    const auto& models = places_.store.modelsDirectory();
    std::error_code error;
    if (!fs::is_directory(models, error)) return nullptr;
    try {
        if (auto lock = ModelInstallationLock::tryAcquire(ModelInstallationLock::path(models, locale)))
            StagedModelInstallation::removeStaleStagingFolders(models, locale);
    } catch (const std::system_error&) {
        // A store that cannot be written keeps its leftovers; the model in it still serves.
    }
    return nullptr;
}

bool StoredSpeechModels::isInstalled(const std::string& locale, const std::optional<SpeechModelSource>& source,
                                     const std::optional<CatalogModel>& offered) const {
    return isInPlace(locale, source, offered, isRecognitionRole);
}

bool StoredSpeechModels::isComplete(const std::string& locale, const std::optional<SpeechModelSource>& source,
                                    const std::optional<CatalogModel>& offered) const {
    return isInPlace(locale, source, offered, anyRole);
}

bool StoredSpeechModels::isInPlace(const std::string& locale, const std::optional<SpeechModelSource>& source,
                                   const std::optional<CatalogModel>& offered, const RoleFilter& inPart) const {
    std::optional<InstalledSpeechModel> installed;
    if (auto recorded = places_.store.recordedModel(locale)) {
        auto part = recorded->part(inPart);
        if (part.intactFiles().size() == part.manifest.files.size()) installed = std::move(part);
    }
    if (source) {
        try {
            return installed && sameModelFiles(installed->manifest, manifestPart(source->manifest(), inPart));
        } catch (const std::filesystem::filesystem_error&) {
            return false;  // the source changed while it was listed: installing it will tell
        }
    }
    if (offered) return installed && isCatalogModelPart(installed->manifest, *offered, inPart);
    return installed || systemModel(places_.systemModels, locale);
}

std::optional<SpeechModelSource> StoredSpeechModels::presentSource(const std::string& locale) const {
    for (const auto& candidate : places_.sources)
        if (candidate.locale == locale && isKnownEngine(candidate.engine) && candidate.isPresent())
            return candidate;
    return std::nullopt;
}

std::optional<CatalogModel> StoredSpeechModels::catalogModel(const std::string& locale) const {
    if (!places_.catalog) return std::nullopt;
    auto catalog = places_.catalog();
    for (const auto& model : catalog.models())
        if (canonicalLocaleIdentifier(model.locale) == locale && isKnownEngine(model.engine)) return model;
    return std::nullopt;
}

std::optional<CatalogModel> StoredSpeechModels::catalogModelIfReadable(const std::string& locale) const {
    try {
        return catalogModel(locale);
    } catch (const SpeechModelCatalogError&) {
        return std::nullopt;
    }
}

std::unique_ptr<AssetInstallationRequest> StoredSpeechModels::downloadInstallation(const std::string& locale,
                                                                                  const CatalogModel& model) const {
    const auto& models = places_.store.modelsDirectory();
    auto folder = ModelDownload::folderFor(models, locale);
    keepIntactFiles(places_.store, locale, model, folder);
    SpeechModelSource source{locale, model.engine, folder, model.components()};
    FetchedModelSource fetched;
    for (const auto& file : model.files) fetched.sha256[file.name] = file.sha256;
    fetched.fetch = [folder, model](InstallationLoop& loop) {
        CurlModelFileFetcher fetcher;
        ModelDownload(fetcher, folder, model).run(
            [&](std::uintmax_t done, std::uintmax_t total) { loop.progress().setFractionCompleted(fractionOf(done, total)); },
            loop);
    };
    auto installation = std::make_unique<StagedModelInstallation>(models, std::move(source), places_.trial, std::move(fetched));
    // A resumed download's first report is what it kept, not a 0 before it counted.
    installation->progress().setFractionCompleted(fractionOf(ModelDownload::keptBytes(folder, model), model.totalBytes()));
    return installation;
}

// The gate

std::unique_ptr<SpeechGate> StoredSpeechModels::openSpeechGate() const {
    if (!places_.speechGateModel) return nullptr;
    return std::make_unique<SileroSpeechGate>(*places_.speechGateModel, logger_);
}

std::optional<PersonalVocabulary> StoredSpeechModels::personalVocabulary() const {
    if (!places_.personalVocabulary) return std::nullopt;
    return readPersonalVocabulary(places_.personalVocabulary, logger_);
}

std::optional<std::string> StoredSpeechModels::speechGateProblem() const {
    if (!places_.speechGateModel) return "the speech gate is switched off (TESSARYN_SPEECH_GATE=off)";
    return SileroSpeechGate::modelProblem(*places_.speechGateModel);
}

}  // namespace harkline
