#include "harkline/Platform/Speech/Testing/ScriptedSpeechGate.h"

namespace harkline {

std::vector<SpeechGate::Passage> ScriptedSpeechGate::listen(const std::int16_t* samples, std::size_t count) {
    return cutter_.cut(samples, count, [this](const std::int16_t*) { return judgeNextWindow(); });
}

SpeechPassageCutter::Verdict ScriptedSpeechGate::judgeNextWindow() {
    using enum SpeechPassageCutter::Verdict;
    auto index = windowsHeard_++;
    if (index < script_.speechWindows.size() && script_.speechWindows[index]) {
        speaking_ = true;
        quietWindows_ = 0;
        return speech;
    }
    if (speaking_ && ++quietWindows_ >= script_.pauseWindows) speaking_ = false;
    return speaking_ ? pause : quiet;
}

}  // namespace harkline
