#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Platform/Speech/ModelRoles.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxRecognizer.h"
#include "harkline/Platform/Speech/SpeechModelStore.h"
#include "harkline/Transcription/TextFormatter.h"

namespace harkline {

// The model that formats a sherpa-onnx model's final results, named in its manifest
// beside the recognition files. One of two kinds, by role (ModelRoles.h):
// - "punctuation": a CT-Transformer punctuation model (Chinese and English; writes
//   full-width marks and sets no case);
// - "punctuationAndCase" with "punctuationVocab": the English CNN-BiLSTM model that
//   punctuates and sets each word's case, and the BPE vocabulary (bpe.vocab) it splits
//   words with.
// Checked before the engine sees it: sherpa-onnx ends the process on a missing metadata
// key, a vocabulary line it cannot read, or a punctuation mark it expects and lacks.
struct SherpaOnnxFormattingModel {
    enum class Kind { punctuation, punctuationAndCase };

    Kind kind = Kind::punctuation;
    std::filesystem::path model;
    std::optional<std::filesystem::path> vocabulary;  // punctuationAndCase only

    // None when the manifest names no formatting role; throws std::runtime_error saying
    // what is wrong when the named files are missing or not a model of that kind.
    static std::optional<SherpaOnnxFormattingModel> inspect(const InstalledSpeechModel& model);

    // Loads the engine (the library once per process, then the model) and returns the
    // formatter of final results; throws std::runtime_error saying why it cannot. The
    // engine's own words go to the log, or as they are to standard error (a trial, whose
    // parent must hear them even when the engine ends the process).
    std::unique_ptr<TextFormatter> load(const cli::Logger& logger, EngineOutput engineOutput = EngineOutput::toLog) const;
};

}  // namespace harkline
