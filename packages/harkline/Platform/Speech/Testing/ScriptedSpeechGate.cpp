#include "harkline/Platform/Speech/Testing/ScriptedSpeechGate.h"

namespace harkline {

std::vector<SpeechGate::Passage> ScriptedSpeechGate::listen(const std::int16_t* samples, std::size_t count) {
    return cutter_.cut(samples, count, [this](const std::int16_t*) { return hearsSpeechAfterNextWindow(); });
}

bool ScriptedSpeechGate::hearsSpeechAfterNextWindow() {
    auto index = windowsHeard_++;
    bool soundsLikeSpeech = index < script_.speechWindows.size() && script_.speechWindows[index];
    if (soundsLikeSpeech) {
        speaking_ = true;
        quietWindows_ = 0;
    } else if (speaking_ && ++quietWindows_ >= script_.pauseWindows) {
        speaking_ = false;
    }
    return speaking_;
}

}  // namespace harkline
