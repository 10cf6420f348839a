#pragma once

#include <optional>
#include <string>

#include "harkline/Platform/Speech/TranscriptionPreset.h"

namespace harkline {

// Maps a preset name (any letter case) to a transcription preset; no name or an
// unknown one gives progressive transcription.
struct SpeechPresetResolver {
    static TranscriptionPreset resolve(const std::optional<std::string>& identifier);
};

}  // namespace harkline
