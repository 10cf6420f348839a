#pragma once

#include <memory>
#include <optional>
#include <string>

#include "harkline/Audio/AudioPCMBuffer.h"
#include "harkline/Platform/Speech/TranscriptionPreset.h"
#include "harkline/Streams/AsyncStream.h"
#include "harkline/Streams/Channel.h"

// The speech platform layer: the few operations the transcription core needs from a
// speech engine, shaped after an analyzer that runs one transcriber module over a
// sequence of audio buffers. Linux/ holds the Linux platform (its engines in
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

// One unit of analyzer input.
struct AnalyzerInput {
    AudioPCMBuffer buffer;
};

// The transcription module: configured with a locale and a preset; its results
// sequence ends after the analyzer has finalised (or fails with the engine's error).
class SpeechTranscriber {
public:
    virtual ~SpeechTranscriber() = default;

    virtual const std::string& locale() const = 0;
    virtual TranscriptionPreset preset() const = 0;
    // The same sequence on every call; one consumer.
    virtual std::shared_ptr<Channel<SpeechTranscriptionResult>> results() const = 0;
};

// Runs its transcriber over audio. Calls come in this order, from one thread: load,
// feed, finish. Each throws the engine's failure (a std::exception whose what()
// describes it).
class SpeechAnalyzer {
public:
    virtual ~SpeechAnalyzer() = default;

    // Readies the engine (loads the model) for audio of this format.
    virtual void load(const AudioFormat& format) = 0;
    // Consumes the input sequence to its end, producing results as it goes; throws the
    // sequence's own error unchanged when it ends with one.
    virtual void feed(AsyncStream<AnalyzerInput>& inputSequence) = 0;
    // Completes the analysis through the end of the input (the last final results),
    // then ends the transcriber's results sequence.
    virtual void finish() = 0;
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
};

}  // namespace harkline
