#include "harkline/Platform/Speech/TranscriptionPreset.h"

namespace harkline {

std::string describe(TranscriptionPreset preset) {
    switch (preset) {
        case TranscriptionPreset::transcription: return "transcription";
        case TranscriptionPreset::transcriptionWithAlternatives: return "transcriptionWithAlternatives";
        case TranscriptionPreset::timeIndexedTranscriptionWithAlternatives:
            return "timeIndexedTranscriptionWithAlternatives";
        case TranscriptionPreset::progressiveTranscription: return "progressiveTranscription";
        case TranscriptionPreset::timeIndexedProgressiveTranscription: return "timeIndexedProgressiveTranscription";
    }
    return "progressiveTranscription";
}

}  // namespace harkline
