#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace harkline {

// One speech engine decoding a continuous stream of 16 kHz mono samples and cutting it
// into utterances at pauses: while an utterance goes on it reports the growing text as
// partial hypotheses; at its end (a pause, or the end of input) the final one.
class StreamingDecoder {
public:
    struct Hypothesis {
        std::string text;
        bool isFinal = false;

        bool operator==(const Hypothesis&) const = default;
    };

    virtual ~StreamingDecoder() = default;

    // Decodes samples; returns the hypotheses they brought, in order. Throws
    // std::runtime_error when the engine fails.
    virtual std::vector<Hypothesis> feed(const std::int16_t* samples, std::size_t count) = 0;
    // The stretch of input fed so far is over (a pause a speech gate heard, or the end
    // of input): the last hypotheses, ending with the final one of the utterance in
    // progress if it has any text or showed any. Samples fed later start a new utterance.
    virtual std::vector<Hypothesis> finish() = 0;
};

}  // namespace harkline
