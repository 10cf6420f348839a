#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct ps_decoder_s;

namespace harkline {

// One pocketsphinx decoder that cuts continuous audio into utterances at pauses: while
// speech goes on it reports the growing hypothesis as partial results; when the engine's
// voice activity detector sees the speech stop (or at the end of input) it reports the
// utterance's final hypothesis and starts the next one.
class PocketSphinxDecoder {
public:
    struct ModelPaths {
        std::filesystem::path acousticModel;
        std::filesystem::path languageModel;
        std::filesystem::path dictionary;
    };
    struct Hypothesis {
        std::string text;
        bool isFinal = false;
    };

    // Loads the model; throws std::runtime_error when the engine cannot.
    explicit PocketSphinxDecoder(const ModelPaths& paths);
    ~PocketSphinxDecoder();
    PocketSphinxDecoder(const PocketSphinxDecoder&) = delete;
    PocketSphinxDecoder& operator=(const PocketSphinxDecoder&) = delete;

    // Decodes 16 kHz mono samples; returns the hypotheses they brought, in order.
    std::vector<Hypothesis> process(const std::int16_t* samples, std::size_t count);
    // The final hypothesis of the utterance in progress, if it has one.
    std::optional<Hypothesis> finish();

private:
    void startUtterance();
    std::optional<Hypothesis> endUtterance();
    std::string currentHypothesis() const;

    ps_decoder_s* decoder_ = nullptr;
    bool inUtterance_ = false;
    bool heardSpeech_ = false;
    std::size_t utteranceSamples_ = 0;
    std::string lastPartial_;
};

}  // namespace harkline
