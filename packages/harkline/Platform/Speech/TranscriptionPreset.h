#pragma once

#include <string>

namespace harkline {

// How a host asks for results: final results only, with alternatives, with time indexes,
// or progressively (partial results while audio arrives, then final ones).
enum class TranscriptionPreset {
    transcription,
    transcriptionWithAlternatives,
    timeIndexedTranscriptionWithAlternatives,
    progressiveTranscription,
    timeIndexedProgressiveTranscription,
};

// The preset's name as logs show it, e.g. "progressiveTranscription".
std::string describe(TranscriptionPreset preset);

}  // namespace harkline
