#include "harkline/Commands/SpeechPresetResolver.h"

#include <algorithm>
#include <cctype>

namespace harkline {

TranscriptionPreset SpeechPresetResolver::resolve(const std::optional<std::string>& identifier) {
    if (!identifier) return TranscriptionPreset::progressiveTranscription;
    std::string name = *identifier;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (name == "transcription") return TranscriptionPreset::transcription;
    if (name == "alternatives" || name == "transcription_with_alternatives")
        return TranscriptionPreset::transcriptionWithAlternatives;
    if (name == "time_indexed_alternatives") return TranscriptionPreset::timeIndexedTranscriptionWithAlternatives;
    if (name == "time_indexed_progressive") return TranscriptionPreset::timeIndexedProgressiveTranscription;
    return TranscriptionPreset::progressiveTranscription;
}

}  // namespace harkline
