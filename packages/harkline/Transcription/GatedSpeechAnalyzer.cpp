#include "harkline/Transcription/GatedSpeechAnalyzer.h"

#include <algorithm>
#include <string>

#include "harkline/Runtime/CLIError.h"

namespace harkline {

void GatedSpeechAnalyzer::load(const AudioFormat& format) {
    format_ = format;
    engine_->load(format);
}

void GatedSpeechAnalyzer::feed(const AudioPCMBuffer& buffer, const SpeechResultHandler& onResult) {
    handOn(gate_->listen(buffer.int16ChannelData(0), buffer.frameLength()), onResult);
}

void GatedSpeechAnalyzer::finishUtterance(const SpeechResultHandler& onResult) { engine_->finishUtterance(onResult); }

void GatedSpeechAnalyzer::finish(const SpeechResultHandler& onResult) {
    handOn(gate_->finish(), onResult);
    engine_->finish(onResult);
}

void GatedSpeechAnalyzer::handOn(std::vector<SpeechGate::Passage> passages, const SpeechResultHandler& onResult) {
    for (auto& passage : passages) {
        if (passage.change == SpeechGate::Change::speechEnded) {
            logger_.debug("语音门控：语音结束");
            engine_->finishUtterance(onResult);
            continue;
        }
        if (passage.change == SpeechGate::Change::speechStarts)
            logger_.debug("语音门控：语音开始 frameCount=" + std::to_string(passage.samples.size()));
        if (passage.samples.empty()) continue;
        auto frames = static_cast<std::uint32_t>(passage.samples.size());
        auto speech = AudioPCMBuffer::make(format_, frames);
        if (!speech) throw CLIError(CLIError::Case::bufferAllocationFailed);
        std::copy(passage.samples.begin(), passage.samples.end(), speech->int16ChannelData(0));
        speech->setFrameLength(frames);
        engine_->feed(*speech, onResult);
    }
}

}  // namespace harkline
