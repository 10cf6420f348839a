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
// before speech so that a start brings some of it along, and joins the speech windows of
// one read into one passage.
class SpeechPassageCutter {
public:
    // Whether speech goes on after this window of windowSamples() samples.
    using Judge = std::function<bool(const std::int16_t* window)>;

    SpeechPassageCutter(std::size_t windowSamples, std::size_t samplesBeforeStart)
        : windowSamples_(windowSamples), samplesBeforeStart_(samplesBeforeStart) {}

    std::size_t windowSamples() const { return windowSamples_; }

    std::vector<SpeechGate::Passage> cut(const std::int16_t* samples, std::size_t count, const Judge& judge);
    // The input is over: a stretch in progress gets the samples still held and its end.
    std::vector<SpeechGate::Passage> finish();

private:
    void judgeWindow(const std::int16_t* window, const Judge& judge, std::vector<SpeechGate::Passage>& passages);

    std::size_t windowSamples_;
    std::size_t samplesBeforeStart_;
    std::vector<std::int16_t> partialWindow_;
    std::deque<std::int16_t> heardBefore_;
    bool inSpeech_ = false;
};

}  // namespace harkline
