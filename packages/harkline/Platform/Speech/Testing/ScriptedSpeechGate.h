#pragma once

#include <cstddef>
#include <vector>

#include "harkline/Transcription/SpeechGate.h"
#include "harkline/Transcription/SpeechPassageCutter.h"

namespace harkline {

// A speech gate for tests: it judges audio a window at a time as the Silero gate does, but
// by a script instead of a model, so that a test can place speech, pauses and window
// borders exactly.
class ScriptedSpeechGate final : public SpeechGate {
public:
    struct Script {
        std::size_t windowSamples = 512;
        // Whether each window, from the first, sounds like speech; later windows do not.
        std::vector<bool> speechWindows;
        // Windows that do not sound like speech needed in a row to end a stretch.
        std::size_t pauseWindows = 3;
        // Windows of audio before a start that come with it.
        std::size_t windowsBeforeStart = 2;
        // Samples of a pause that ends its stretch that are decoded.
        std::size_t pauseTailSamples = 0;
    };

    explicit ScriptedSpeechGate(Script script)
        : script_(std::move(script)),
          cutter_(script_.windowSamples, script_.windowsBeforeStart * script_.windowSamples, script_.pauseTailSamples) {}

    std::vector<Passage> listen(const std::int16_t* samples, std::size_t count) override;
    std::vector<Passage> finish() override { return cutter_.finish(); }

private:
    // A window that does not sound like speech is a pause while a stretch goes on.
    SpeechPassageCutter::Verdict judgeNextWindow();

    Script script_;
    SpeechPassageCutter cutter_;
    std::size_t windowsHeard_ = 0;
    std::size_t quietWindows_ = 0;
    bool speaking_ = false;
};

}  // namespace harkline
