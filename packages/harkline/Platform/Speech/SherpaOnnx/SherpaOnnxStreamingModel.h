#pragma once

#include <filesystem>
#include <optional>

#include "harkline/Platform/Speech/SpeechModelStore.h"

namespace harkline {

// A streaming model for sherpa-onnx, checked so that the engine can load it without
// ending the process: sherpa-onnx exits on a missing metadata key or a tokens file
// without a blank, and aborts mid-decode on a token id its tokens file lacks.
//
// Two kinds, by the manifest's engine:
// - "sherpa-onnx-transducer": roles "encoder", "decoder", "joiner", "tokens" (int8 files
//   or not); optional "hotwords" (then modified beam search boosts those phrases) and
//   "bpeVocab" (the BPE vocabulary that hotwords of a BPE model are split with);
// - "sherpa-onnx-ctc": a streaming zipformer2 CTC model, roles "model" and "tokens"
//   (hotwords do not apply: the engine exits on them).
struct SherpaOnnxStreamingModel {
    static constexpr const char* transducerEngine = "sherpa-onnx-transducer";
    static constexpr const char* ctcEngine = "sherpa-onnx-ctc";

    struct Transducer {
        std::filesystem::path encoder;
        std::filesystem::path decoder;
        std::filesystem::path joiner;
    };

    std::optional<Transducer> transducer;  // none for a CTC model
    std::optional<std::filesystem::path> ctcModel;
    std::filesystem::path tokens;
    std::optional<std::filesystem::path> hotwords;
    std::optional<std::filesystem::path> bpeVocab;
    // Feature frames the encoder takes per chunk: how much tail padding decodes the last one.
    int chunkFrames = 0;

    static bool isEngine(const std::string& engine) { return engine == transducerEngine || engine == ctcEngine; }
    // Checks the files and their metadata; throws std::runtime_error saying what is wrong.
    static SherpaOnnxStreamingModel inspect(const InstalledSpeechModel& model);
};

}  // namespace harkline
