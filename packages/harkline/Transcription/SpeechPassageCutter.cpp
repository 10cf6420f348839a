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
        // Samples too few to judge belong to what they follow.
        if (!pause_.empty()) pause_.insert(pause_.end(), partialWindow_.begin(), partialWindow_.end());
        else if (!partialWindow_.empty()) passages.push_back({Change::speechGoesOn, partialWindow_});
        endStretch(passages);
    }
    partialWindow_.clear();
    heardBefore_.clear();
    return passages;
}

void SpeechPassageCutter::judgeWindow(const std::int16_t* window, const Judge& judge, std::vector<Passage>& passages) {
    auto verdict = judge(window);
    const auto* windowEnd = window + windowSamples_;
    if (verdict == Verdict::quiet) {
        if (inSpeech_) endStretch(passages);
        keepBeforeStart(window, windowEnd);
    } else if (!inSpeech_) {
        inSpeech_ = true;
        Passage start{Change::speechStarts, std::vector<std::int16_t>(heardBefore_.begin(), heardBefore_.end())};
        start.samples.insert(start.samples.end(), window, windowEnd);
        heardBefore_.clear();
        passages.push_back(std::move(start));
    } else if (verdict == Verdict::pause) {
        pause_.insert(pause_.end(), window, windowEnd);
    } else {
        if (passages.empty() || passages.back().change == Change::speechEnded) passages.push_back({Change::speechGoesOn, {}});
        auto& samples = passages.back().samples;
        samples.insert(samples.end(), pause_.begin(), pause_.end());
        samples.insert(samples.end(), window, windowEnd);
        pause_.clear();
    }
}

void SpeechPassageCutter::endStretch(std::vector<Passage>& passages) {
    auto tail = std::min(pause_.size(), pauseTailSamples_);
    if (tail > 0) passages.push_back({Change::speechGoesOn, {pause_.begin(), pause_.begin() + static_cast<std::ptrdiff_t>(tail)}});
    passages.push_back({Change::speechEnded, {}});
    // What was not decoded may come before the next start.
    keepBeforeStart(pause_.data() + tail, pause_.data() + pause_.size());
    pause_.clear();
    inSpeech_ = false;
}

void SpeechPassageCutter::keepBeforeStart(const std::int16_t* begin, const std::int16_t* end) {
    heardBefore_.insert(heardBefore_.end(), begin, end);
    auto surplus = heardBefore_.size() - std::min(heardBefore_.size(), samplesBeforeStart_);
    heardBefore_.erase(heardBefore_.begin(), heardBefore_.begin() + static_cast<std::ptrdiff_t>(surplus));
}

}  // namespace harkline
