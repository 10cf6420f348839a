#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "harkline/Transcription/StreamingDecoder.h"

struct ps_decoder_s;

namespace harkline {

// One pocketsphinx decoder that cuts continuous audio into utterances where the engine's
// voice activity detector sees the speech stop.
class PocketSphinxDecoder final : public StreamingDecoder {
public:
    struct ModelPaths {
        std::filesystem::path acousticModel;
        std::filesystem::path languageModel;
        std::filesystem::path dictionary;
    };
    // Loads the model; throws std::runtime_error when the engine cannot.
    explicit PocketSphinxDecoder(const ModelPaths& paths);
    ~PocketSphinxDecoder() override;
    PocketSphinxDecoder(const PocketSphinxDecoder&) = delete;
    PocketSphinxDecoder& operator=(const PocketSphinxDecoder&) = delete;

    // Decodes 16 kHz mono samples; returns the hypotheses they brought, in order.
    std::vector<Hypothesis> feed(const std::int16_t* samples, std::size_t count) override;
    // The final hypothesis of the utterance in progress, if it has one.
    std::vector<Hypothesis> finish() override;

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
