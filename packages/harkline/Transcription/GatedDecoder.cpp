#include "harkline/Transcription/GatedDecoder.h"

#include <string>

namespace harkline {

std::vector<StreamingDecoder::Hypothesis> GatedDecoder::feed(const std::int16_t* samples, std::size_t count) {
    return handOn(gate_->listen(samples, count));
}

std::vector<StreamingDecoder::Hypothesis> GatedDecoder::finish() { return handOn(gate_->finish()); }

std::vector<StreamingDecoder::Hypothesis> GatedDecoder::handOn(std::vector<SpeechGate::Passage> passages) {
    std::vector<Hypothesis> hypotheses;
    auto append = [&](std::vector<Hypothesis> more) {
        hypotheses.insert(hypotheses.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    };
    for (auto& passage : passages) {
        if (passage.change == SpeechGate::Change::speechEnded) {
            logger_.debug("语音门控：语音结束");
            append(decoder_->finish());
            continue;
        }
        if (passage.change == SpeechGate::Change::speechStarts)
            logger_.debug("语音门控：语音开始 frameCount=" + std::to_string(passage.samples.size()));
        if (!passage.samples.empty()) append(decoder_->feed(passage.samples.data(), passage.samples.size()));
    }
    return hypotheses;
}

}  // namespace harkline
