#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Platform/Speech/SpeechModelStore.h"

namespace harkline {

// Names a folder of additional model sources (local folders only, never a network).
inline constexpr const char* speechModelSourcesVariable = "TESSARYN_SPEECH_MODEL_SOURCES";

// The sources described by the "*.json" files of `folder`, by file name, e.g.
//   {"locale":"en-GB","engine":"pocketsphinx","directory":"/srv/models/en-gb",
//    "components":{"acousticModel":"en-us","languageModel":"en-us.lm.bin","dictionary":"cmudict-en-us.dict"}}
//   {"locale":"zh-CN","engine":"sherpa-onnx-transducer","directory":"zh-cn",
//    "components":{"encoder":"encoder.int8.onnx","decoder":"decoder.onnx","joiner":"joiner.int8.onnx",
//                  "tokens":"tokens.txt","hotwords":"hotwords.txt"}}
// A relative "directory" is taken from `folder`.
// A descriptor that cannot be read or decoded, whose locale or component paths are not
// acceptable, whose engine is not known or whose components are not all there, is
// skipped with an ERROR log line naming it and the reason.
using KnownEngine = std::function<bool(const std::string& engine)>;
std::vector<SpeechModelSource> loadSpeechModelSourceFolder(const std::filesystem::path& folder,
                                                                      const KnownEngine& isKnownEngine,
                                                                      const cli::Logger& logger);

// The sources of the folder named by the variable above when it is set; for a locale
// named twice, the first source counts.
std::vector<SpeechModelSource> installableSpeechModelSources(const KnownEngine& isKnownEngine,
                                                                       const cli::Logger& logger);

}  // namespace harkline
