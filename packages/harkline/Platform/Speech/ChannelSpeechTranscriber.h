#pragma once

#include <memory>
#include <string>

#include "harkline/Platform/Speech/SpeechPlatform.h"

namespace harkline {

// A transcriber module that is only its settings and its results channel, which the
// analyzer it is given to fills. Engines whose module holds nothing else share it.
class ChannelSpeechTranscriber final : public SpeechTranscriber {
public:
    ChannelSpeechTranscriber(std::string locale, TranscriptionPreset preset)
        : locale_(std::move(locale)), preset_(preset), results_(std::make_shared<Channel<SpeechTranscriptionResult>>()) {}

    const std::string& locale() const override { return locale_; }
    TranscriptionPreset preset() const override { return preset_; }
    std::shared_ptr<Channel<SpeechTranscriptionResult>> results() const override { return results_; }

private:
    std::string locale_;
    TranscriptionPreset preset_;
    std::shared_ptr<Channel<SpeechTranscriptionResult>> results_;
};

}  // namespace harkline
