#include "harkline/Transcription/SpeechPassageCutter.h"

#include <algorithm>

namespace harkline {

using Passage = SpeechGate::Passage;
using Change = SpeechGate::Change;

std::vector<Passage> SpeechPassageCutter::cut(const std::int16_t* samples, std::size_t count, const Judge& judge) {
    std::vector<Passage> passages;
    std::size_t offset = 0;
    if (!partialWindow_.empty()) {
        offset = std::min(windowSamples_ - partialWindow_.size(), count);
        partialWindow_.insert(partialWindow_.end(), samples, samples + offset);
        if (partialWindow_.size() < windowSamples_) return passages;
        judgeWindow(partialWindow_.data(), judge, passages);
        partialWindow_.clear();
    }
    for (; count - offset >= windowSamples_; offset += windowSamples_) judgeWindow(samples + offset, judge, passages);
    partialWindow_.assign(samples + offset, samples + count);
    return passages;
}

std::vector<Passage> SpeechPassageCutter::finish() {
    std::vector<Passage> passages;
    if (inSpeech_) {
        if (!partialWindow_.empty()) passages.push_back({Change::speechGoesOn, partialWindow_});
        passages.push_back({Change::speechEnded, {}});
        inSpeech_ = false;
    }
    partialWindow_.clear();
    heardBefore_.clear();
    return passages;
}

void SpeechPassageCutter::judgeWindow(const std::int16_t* window, const Judge& judge, std::vector<Passage>& passages) {
    bool speech = judge(window);
    if (speech && !inSpeech_) {
        inSpeech_ = true;
        Passage start{Change::speechStarts, std::vector<std::int16_t>(heardBefore_.begin(), heardBefore_.end())};
        start.samples.insert(start.samples.end(), window, window + windowSamples_);
        heardBefore_.clear();
        passages.push_back(std::move(start));
    } else if (speech) {
        if (passages.empty() || passages.back().change == Change::speechEnded)
            passages.push_back({Change::speechGoesOn, {}});
        auto& samples = passages.back().samples;
        samples.insert(samples.end(), window, window + windowSamples_);
    } else {
        if (inSpeech_) {
            inSpeech_ = false;
            passages.push_back({Change::speechEnded, {}});
        }
        heardBefore_.insert(heardBefore_.end(), window, window + windowSamples_);
        auto surplus = heardBefore_.size() - std::min(heardBefore_.size(), samplesBeforeStart_);
        heardBefore_.erase(heardBefore_.begin(), heardBefore_.begin() + static_cast<std::ptrdiff_t>(surplus));
    }
}

}  // namespace harkline
