#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "harkline/Transcription/SpeechGate.h"

namespace harkline {

// The bookkeeping of a speech gate that judges audio a fixed window at a time: it keeps
// the start of a window that a read split until the rest arrives, keeps the audio heard
// before speech so that a start brings some of it along, holds back the audio of a pause
// inside a stretch until it is known whether speech goes on, and joins the speech windows
// of one read into one passage.
//
// A pause is handed on whole before the speech that resumes after it. A pause that ends
// its stretch is not: only its first `pauseTailSamples` are (so that the last word ends
// whole), and the rest is never decoded: an engine fed the noise of a pause makes words.
// What is held is no longer than the stretch, which a gate ends at its longest.
class SpeechPassageCutter {
public:
    // How a window was judged.
    enum class Verdict {
        // No stretch of speech is under way (none started, or this window ended it).
        quiet,
        // A stretch goes on, and this window scores as speech.
        speech,
        // A stretch goes on, but this window scores below the gate's threshold.
        pause,
    };
    using Judge = std::function<Verdict(const std::int16_t* window)>;

    SpeechPassageCutter(std::size_t windowSamples, std::size_t samplesBeforeStart, std::size_t pauseTailSamples)
        : windowSamples_(windowSamples), samplesBeforeStart_(samplesBeforeStart), pauseTailSamples_(pauseTailSamples) {}

    std::size_t windowSamples() const { return windowSamples_; }

    std::vector<SpeechGate::Passage> cut(const std::int16_t* samples, std::size_t count, const Judge& judge);
    // The input is over: a stretch in progress gets the samples still held (a pause's
    // only up to its tail) and its end.
    std::vector<SpeechGate::Passage> finish();

private:
    void judgeWindow(const std::int16_t* window, const Judge& judge, std::vector<SpeechGate::Passage>& passages);
    void endStretch(std::vector<SpeechGate::Passage>& passages);
    void keepBeforeStart(const std::int16_t* begin, const std::int16_t* end);

    std::size_t windowSamples_;
    std::size_t samplesBeforeStart_;
    std::size_t pauseTailSamples_;
    std::vector<std::int16_t> partialWindow_;
    std::deque<std::int16_t> heardBefore_;
    std::vector<std::int16_t> pause_;
    bool inSpeech_ = false;
};

}  // namespace harkline
