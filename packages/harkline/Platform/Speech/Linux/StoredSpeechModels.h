#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Platform/Speech/Download/SpeechModelCatalog.h"
#include "harkline/Platform/Speech/Models/SpeechModelSourceFolder.h"
#include "harkline/Platform/Speech/Models/StagedModelInstallation.h"
#include "harkline/Platform/Speech/PersonalVocabulary.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxDecoder.h"
#include "harkline/Platform/Speech/SpeechModelStore.h"
#include "harkline/Platform/Speech/SpeechModels.h"

namespace harkline {

// The speech models on this machine, for two engines linked in: pocketsphinx and
// sherpa-onnx streaming transducers.
//
// Serving: a locale is served by the model in the per-user store when it has one (whatever
// its engine), else by a system model where it lies (Debian's pocketsphinx en-US), with no
// copy. A sherpa-onnx model that no installation of ours checked (placed in the store by
// hand) is first loaded by the trial, in a process of its own.
//
// Installing: a locale's model is installed from a local source (a folder named by a
// descriptor, the user's own choice, which wins) or else downloaded as the model catalogue
// pins it. Installed, for every question asked here: the model that would serve the
// locale is in place and nothing better is offered for it. So a locale with a present
// source is installed when the store holds that source's model; else, one the catalogue
// offers when the store holds the catalogue's model; else, when a model serves it at all.
// Status: "installing" while an installation of the locale holds its lock (in any
// process), else "installed" as above, else "available" when a source is present or the
// catalogue offers the locale.
//
// Formatting: a model's formatting roles (ModelRoles.h) are checked apart from its
// recognition roles. Installed and the locale lists speak of the recognition model, which
// is what a dictation needs; formattingModel() tells of the formatting model. A locale's
// installation() has nothing to do when the whole offered model, formatting included, is
// in place; else it installs what is offered, keeping the intact files it has.
//
// The gate: the Silero speech gate on `speechGateModel` (none when switched off).
//
// The personal vocabulary: read from `personalVocabulary` at each transcription (bounded;
// a file that cannot be read is left out with an INFO log line, never a failed dictation)
// and given to a transducer as hotwords; pocketsphinx and CTC models do without it.
class StoredSpeechModels final : public SpeechModels {
public:
    struct Places {
        SpeechModelStore store;
        std::vector<SpeechModelSource> sources;
        std::vector<SpeechModelSource> systemModels;
        std::function<SpeechModelCatalog()> catalog;
        // Loads a model in a process of its own; after each installation, and before a
        // sherpa-onnx model that no installation checked is used.
        StagedModelVerifier trial;
        std::optional<std::filesystem::path> speechGateModel;
        std::optional<std::filesystem::path> personalVocabulary;
        // Loads the formatting model that a model names (given as that part of the model);
        // throws std::runtime_error saying why it cannot. None: finals get no model.
        std::function<std::unique_ptr<TextFormatter>(const InstalledSpeechModel&, const cli::Logger&)> formatting;
    };

    StoredSpeechModels(Places places, cli::Logger logger) : places_(std::move(places)), logger_(std::move(logger)) {}

    std::optional<std::string> servingLocale(const std::string& locale) const override;
    bool hasAnyModel() const override;
    std::unique_ptr<StreamingDecoder> openDecoder(const std::string& locale) const override;
    std::unique_ptr<TextFormatter> openTextFormatter(const std::string& locale) const override;
    FormattingModelState formattingModel(const std::string& locale) const override;

    // Installed locales, those with a present source and those the catalogue offers.
    std::vector<std::string> supportedLocales() const override;
    std::vector<std::string> installedLocales() const override;
    ModelStatus status(const std::string& locale) const override;
    // None when the locale is installed. Throws for a text that is not a locale identifier,
    // a locale without a source, or a catalogue that cannot be read.
    std::unique_ptr<AssetInstallationRequest> installation(const std::string& locale) const override;

    std::unique_ptr<SpeechGate> openSpeechGate() const override;
    std::optional<std::string> speechGateProblem() const override;
    std::optional<std::filesystem::path> personalVocabularyFile() const override { return places_.personalVocabulary; }
    std::optional<PersonalVocabulary> personalVocabulary() const override;

    static bool isKnownEngine(const std::string& engine);
    // Checks the model's files and loads its engine; throws std::runtime_error saying why
    // it cannot.
    static std::unique_ptr<StreamingDecoder> loadDecoder(const InstalledSpeechModel& model, const cli::Logger& logger,
                                                         EngineOutput engineOutput = EngineOutput::toLog,
                                                         const PersonalVocabulary& vocabulary = {});
    // The hotwords that `vocabulary` gives a transcription on `model` (as loadDecoder
    // would give them), for a decoder loaded elsewhere; empty when there are none.
    static std::string transcriptionHotwords(const InstalledSpeechModel& model, const PersonalVocabulary& vocabulary,
                                             const cli::Logger& logger);

private:
    // The model that serves a canonical locale: the store's (even one damaged since its
    // installation, which then fails to load with the reason), else a present system model.
    std::optional<InstalledSpeechModel> servingModel(const std::string& locale) const;
    std::vector<std::string> servedLocales() const;

    // `offered` is what the catalogue offers for the locale, asked for by the caller, who
    // decides what an unreadable catalogue means. Installed: the recognition model offered
    // is in place; complete: the whole model offered is; in place: the files of the roles
    // `inPart` accepts are, intact.
    bool isComplete(const std::string& canonicalLocale, const std::optional<SpeechModelSource>& source,
                    const std::optional<CatalogModel>& offered) const;
    bool isInstalled(const std::string& canonicalLocale, const std::optional<SpeechModelSource>& source,
                     const std::optional<CatalogModel>& offered) const;
    bool isInPlace(const std::string& canonicalLocale, const std::optional<SpeechModelSource>& source,
                   const std::optional<CatalogModel>& offered, const RoleFilter& inPart) const;
    std::optional<SpeechModelSource> presentSource(const std::string& canonicalLocale) const;
    // Throws SpeechModelCatalogError for a catalogue that cannot be read.
    std::optional<CatalogModel> catalogModel(const std::string& canonicalLocale) const;
    // Without the catalogue's errors: for questions that only ask what could be installed.
    std::optional<CatalogModel> catalogModelIfReadable(const std::string& canonicalLocale) const;
    std::unique_ptr<AssetInstallationRequest> downloadInstallation(const std::string& locale, const CatalogModel& model) const;
    std::unique_ptr<AssetInstallationRequest> nothingToInstall(const std::string& locale) const;

    Places places_;
    cli::Logger logger_;
};

}  // namespace harkline
