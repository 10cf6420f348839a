#pragma once

#include <filesystem>
#include <vector>

#include "harkline/Platform/Speech/SpeechModelStore.h"
#include "harkline/Platform/Speech/SpeechPlatform.h"

namespace harkline {

// The speech platform on Linux: pocketsphinx, with models from the per-user store.
// A locale is supported when the system packages provide its model or the store has it
// installed; transcription itself uses only installed models.
class PocketSphinxSpeechPlatform final : public SpeechPlatform {
public:
    static constexpr const char* engineName = "pocketsphinx";

    PocketSphinxSpeechPlatform(SpeechModelStore store, std::vector<SpeechModelSource> sources)
        : store_(std::move(store)), sources_(std::move(sources)) {}

    bool hasSpeechAnalyzer() const override;
    bool isTranscriberAvailable() const override;
    std::optional<std::string> supportedLocale(const std::string& locale) const override;
    std::shared_ptr<SpeechTranscriber> makeTranscriber(const std::string& locale,
                                                       TranscriptionPreset preset) const override;
    std::unique_ptr<SpeechAnalyzer> makeAnalyzer(std::shared_ptr<SpeechTranscriber> module) const override;

    const SpeechModelStore& store() const { return store_; }
    const std::vector<SpeechModelSource>& sources() const { return sources_; }

private:
    std::vector<std::string> knownLocales() const;

    SpeechModelStore store_;
    std::vector<SpeechModelSource> sources_;
};

}  // namespace harkline
