#pragma once

#include <filesystem>
#include <optional>

#include "harkline/Platform/Speech/SpeechModelStore.h"

namespace harkline {

// A streaming transducer model for sherpa-onnx (encoder, decoder and joiner ONNX files,
// int8 or not, and tokens.txt), checked so that the engine can load it without ending the
// process: sherpa-onnx exits on a missing metadata key or a tokens file without a blank,
// and aborts mid-decode on a token id its tokens file lacks.
//
// Component roles in the manifest: "encoder", "decoder", "joiner", "tokens"; optional
// "hotwords" (then modified beam search boosts those phrases) and "bpeVocab" (the BPE
// vocabulary that hotwords of a BPE model are split with).
struct SherpaOnnxTransducerModel {
    static constexpr const char* engineName = "sherpa-onnx-transducer";

    std::filesystem::path encoder;
    std::filesystem::path decoder;
    std::filesystem::path joiner;
    std::filesystem::path tokens;
    std::optional<std::filesystem::path> hotwords;
    std::optional<std::filesystem::path> bpeVocab;
    // Feature frames the encoder takes per chunk: how much tail padding decodes the last one.
    int chunkFrames = 0;

    // Checks the files and their metadata; throws std::runtime_error saying what is wrong.
    static SherpaOnnxTransducerModel inspect(const InstalledSpeechModel& model);
};

}  // namespace harkline
