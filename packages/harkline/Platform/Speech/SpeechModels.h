#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "harkline/Platform/Speech/AssetInstallation.h"
#include "harkline/Platform/Speech/PersonalVocabulary.h"
#include "harkline/Transcription/SpeechGate.h"
#include "harkline/Transcription/StreamingDecoder.h"
#include "harkline/Transcription/TextFormatter.h"

// The speech models harkline transcribes with: the model that serves a locale (loaded as
// the decoder of its engine), the installation of a locale's model, and the speech gate's
// model, which is part of the product. Linux/ holds the store on disk (the engines in
// PocketSphinx/ and SherpaOnnx/, installation in Models/ and Download/), Testing/ an
// in-memory double. Locale identifiers are BCP 47 style, e.g. "en-US".

namespace harkline {

// How ready a locale's model is, from least to most.
enum class ModelStatus {
    unsupported,  // no model can be had for it
    available,    // one can be installed
    installing,   // an installation holds the locale (in any process)
    installed,    // the model that would serve it is in place, and nothing better is offered
                  // (its formatting model aside: see FormattingModelState)
};

// The formatting model (punctuation, casing) of a locale's model.
struct FormattingModelState {
    enum class Presence {
        none,       // the locale's model has none, and none is offered for it (or the
                    // locale's model is not installed)
        installed,  // in place and whole
        missing,    // offered with the recognition model in place, not installed:
                    // `assets.download` fetches it
        damaged,    // installed, but its files are missing or changed
    };
    Presence presence = Presence::none;
    std::optional<std::string> problem;  // why it is missing or damaged

    std::string word() const {
        switch (presence) {
            case Presence::installed: return "installed";
            case Presence::missing: return "missing";
            case Presence::damaged: return "damaged";
            case Presence::none: break;
        }
        return "none";
    }
};

// Safe to call from any thread.
class SpeechModels {
public:
    virtual ~SpeechModels() = default;

    // The locale with a model that serves `locale` (same language and region, spelled the
    // store's way; a bare language stands for the first of its regions), or none.
    virtual std::optional<std::string> servingLocale(const std::string& locale) const = 0;
    // Whether any locale has a model that serves it.
    virtual bool hasAnyModel() const = 0;
    // Checks the model that serves `locale` and loads its engine; throws
    // std::runtime_error saying why it cannot.
    virtual std::unique_ptr<StreamingDecoder> openDecoder(const std::string& locale) const = 0;

    // The text stage for the finals of `locale`: its model's formatting model when one is
    // in place, else model-free casing and spacing. Never throws: a formatting model that
    // cannot be loaded is logged and done without.
    virtual std::unique_ptr<TextFormatter> openTextFormatter(const std::string& locale) const = 0;
    virtual FormattingModelState formattingModel(const std::string& locale) const = 0;

    // Every locale a model can be had for, sorted.
    virtual std::vector<std::string> supportedLocales() const = 0;
    // The locales whose status is installed, sorted.
    virtual std::vector<std::string> installedLocales() const = 0;
    virtual ModelStatus status(const std::string& locale) const = 0;
    // None when there is nothing to install. Throws a std::exception saying why the
    // locale's model cannot be installed.
    virtual std::unique_ptr<AssetInstallationRequest> installation(const std::string& locale) const = 0;

    // The speech gate to put in front of a decoder, loaded; none when switched off. Throws
    // std::runtime_error saying why it cannot be used.
    virtual std::unique_ptr<SpeechGate> openSpeechGate() const = 0;
    // Why the speech gate cannot be used (its model missing or damaged, or switched off),
    // without loading it; none when nothing is known against it.
    virtual std::optional<std::string> speechGateProblem() const = 0;

    // The file each transcription reads the user's personal vocabulary from (whether it
    // exists or not); none when no vocabulary is read.
    virtual std::optional<std::filesystem::path> personalVocabularyFile() const = 0;
    // The personal vocabulary as a transcription would read it now (what it skips is
    // logged); none when no vocabulary is read.
    virtual std::optional<PersonalVocabulary> personalVocabulary() const = 0;
};

}  // namespace harkline
