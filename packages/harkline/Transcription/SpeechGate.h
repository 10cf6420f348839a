#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace harkline {

// Tells the stretches of speech in 16 kHz mono audio from silence and noise, so that only
// speech reaches a speech engine: an engine fed noise makes up words. Audio goes in as it
// arrives, in reads of any size; what comes out is the speech in it, with the points where
// a stretch starts and where it ends.
class SpeechGate {
public:
    enum class Change {
        // A stretch of speech starts; its audio comes with a little of what came before,
        // so that the first syllable is whole.
        speechStarts,
        // More audio of the stretch in progress.
        speechGoesOn,
        // The stretch is over (a long enough pause, or the end of input); no audio.
        speechEnded,
    };

    struct Passage {
        Change change;
        std::vector<std::int16_t> samples;

        bool operator==(const Passage&) const = default;
    };

    virtual ~SpeechGate() = default;

    // Listens to the next samples; returns what they let through, in order. A gate may
    // hold back a few samples until it has heard enough to judge them. Throws
    // std::runtime_error when its model fails.
    virtual std::vector<Passage> listen(const std::int16_t* samples, std::size_t count) = 0;
    // The input is over: the rest of a stretch still in progress, then its end.
    virtual std::vector<Passage> finish() = 0;
};

}  // namespace harkline
