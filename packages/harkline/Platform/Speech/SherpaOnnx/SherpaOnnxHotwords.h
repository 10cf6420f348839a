#pragma once

#include <string>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Platform/Speech/PersonalVocabulary.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxStreamingModel.h"

namespace harkline {

// The personal vocabulary as the hotwords of one transcription on a transducer: the
// phrases the model can spell, a line each with its boost, as a stream takes them (the
// engine merges them with the model's own hotwords file). The engine drops every hotword
// of a stream when one phrase has a piece its tokens lack, so a phrase that the model
// cannot spell is left out here, with an INFO log line naming it: each character of Chinese
// or Japanese must be a token, and each letter of an English word must be (as "x" or "▁x")
// when the model brings its BPE vocabulary, else the whole word. English words take the
// model's case when its tokens have only one. Empty when nothing is left.
std::string sherpaOnnxHotwords(const PersonalVocabulary& vocabulary, const SherpaOnnxStreamingModel& model,
                               const cli::Logger& logger);

}  // namespace harkline
