#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "harkline/Audio/AudioPCMBuffer.h"
#include "harkline/Platform/Speech/TranscriptionPreset.h"
#include "harkline/Transcription/SpeechGate.h"

// The speech platform layer: the few operations the transcription core needs from a
// speech engine, shaped after an analyzer that runs one transcriber module over audio
// buffers handed to it one at a time. Linux/ holds the Linux platform (its engines in
// PocketSphinx/ and SherpaOnnx/, its model store in Models/), Testing/ a scripted double.
// Locale identifiers are BCP 47 style, e.g. "en-US".

namespace harkline {

// One recognised stretch of speech. Partial results (isFinal false) may be revised by
// later ones; a final result closes its stretch.
struct SpeechTranscriptionResult {
    std::string text;
    bool isFinal = false;

    bool operator==(const SpeechTranscriptionResult&) const = default;
};

// Receives the results of an analyzer as it makes them.
using SpeechResultHandler = std::function<void(SpeechTranscriptionResult)>;

// The transcription module: the locale and the preset that the analyzer it is given to
// transcribes with.
class SpeechTranscriber {
public:
    SpeechTranscriber(std::string locale, TranscriptionPreset preset) : locale_(std::move(locale)), preset_(preset) {}

    const std::string& locale() const { return locale_; }
    TranscriptionPreset preset() const { return preset_; }

private:
    std::string locale_;
    TranscriptionPreset preset_;
};

// Runs its transcriber over audio. Calls come in this order, from one thread: load,
// feed for each buffer (finishUtterance between stretches of speech), finish. Each hands
// the results it brings to `onResult`, in order, before it returns, and throws the
// engine's failure (a std::exception whose what() describes it), possibly after some
// results.
class SpeechAnalyzer {
public:
    virtual ~SpeechAnalyzer() = default;

    // Readies the engine (loads the model) for audio of this format.
    virtual void load(const AudioFormat& format) = 0;
    // Analyses the next buffer of the input.
    virtual void feed(const AudioPCMBuffer& buffer, const SpeechResultHandler& onResult) = 0;
    // The stretch of speech fed so far is over: its final result. Audio fed later starts
    // a new one.
    virtual void finishUtterance(const SpeechResultHandler& onResult) = 0;
    // Completes the analysis through the end of the input: the last final results.
    virtual void finish(const SpeechResultHandler& onResult) = 0;
};

// Entry point of the layer. Safe to call from any thread.
class SpeechPlatform {
public:
    virtual ~SpeechPlatform() = default;

    // Whether this build has a speech analyzer at all (an engine linked in). Without one,
    // transcription is reported as unavailable.
    virtual bool hasSpeechAnalyzer() const = 0;
    // Whether a transcriber can be used on this machine now.
    virtual bool isTranscriberAvailable() const = 0;
    // The supported locale equivalent to `locale` (same language and region, spelled
    // the platform's way), or none.
    virtual std::optional<std::string> supportedLocale(const std::string& locale) const = 0;

    virtual std::shared_ptr<SpeechTranscriber> makeTranscriber(const std::string& locale,
                                                               TranscriptionPreset preset) const = 0;
    virtual std::unique_ptr<SpeechAnalyzer> makeAnalyzer(std::shared_ptr<SpeechTranscriber> module) const = 0;

    // The speech gate to put in front of an analyzer, loaded; null when this platform has
    // none. Throws std::runtime_error saying why when it cannot be used.
    virtual std::unique_ptr<SpeechGate> makeSpeechGate() const = 0;
    // Why the speech gate cannot be used (its model missing or damaged), without loading
    // it; none when nothing is known against it.
    virtual std::optional<std::string> speechGateProblem() const = 0;
};

}  // namespace harkline
