#pragma once

#include <mutex>
#include <string>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxFormattingModel.h"
#include "harkline/Transcription/TextFormatter.h"

struct SherpaOnnxOfflinePunctuation;
struct SherpaOnnxOnlinePunctuation;

namespace harkline {

struct SherpaOnnxLibrary;

// Final results as typed text, with a sherpa-onnx punctuation model between the steps of
// CasingAndSpacingFormatter: English in capitals becomes lower case (the models read lower
// case), the model punctuates (and with the cased model sets each word's case), then:
// - a sentence without CJK characters gets ASCII marks (", . ?", a space after each)
//   instead of the full-width ones the CT-Transformer model writes for every language;
// - a sentence that starts with an English word starts with a capital;
// - an English word and a CJK character that touch get a space; "i" becomes "I" (unless
//   the engine had already cased the text).
// The engine is not said to be safe for calls from several threads: calls take turns.
class SherpaOnnxPunctuationFormatter final : public TextFormatter {
public:
    // Throws std::runtime_error when the library is missing or the engine refuses the model.
    SherpaOnnxPunctuationFormatter(const SherpaOnnxFormattingModel& model, const cli::Logger& logger,
                                   EngineOutput engineOutput);
    ~SherpaOnnxPunctuationFormatter() override;
    SherpaOnnxPunctuationFormatter(const SherpaOnnxPunctuationFormatter&) = delete;
    SherpaOnnxPunctuationFormatter& operator=(const SherpaOnnxPunctuationFormatter&) = delete;

    std::string format(std::string text) const override;

private:
    // The model's text, or the text unchanged when the engine gives none.
    std::string punctuate(const std::string& text) const;

    const SherpaOnnxLibrary& library_;
    const SherpaOnnxOfflinePunctuation* offline_ = nullptr;
    const SherpaOnnxOnlinePunctuation* online_ = nullptr;
    mutable std::mutex mutex_;
};

}  // namespace harkline
