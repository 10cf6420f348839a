#include <algorithm>
#include <cstdint>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli-frame/Testing/RecordingLogger.h"
#include "harkline/Platform/Speech/Testing/ScriptedSpeechGate.h"
#include "harkline/Platform/Speech/Testing/InMemorySpeechModels.h"
#include "harkline/Transcription/GatedDecoder.h"
#include "harkline/Transcription/SpeechPassageCutter.h"

namespace harkline {

// Passages as their change and the first and last sample they carry.
[[maybe_unused]] static void PrintTo(const SpeechGate::Passage& passage, std::ostream* out) {
    const char* names[] = {"starts", "goes on", "ended"};
    *out << names[static_cast<int>(passage.change)];
    if (!passage.samples.empty()) *out << " " << passage.samples.front() << ".." << passage.samples.back();
}

namespace {

using Change = SpeechGate::Change;
using GateScript = ScriptedSpeechGate::Script;

// Samples that tell their own position.
std::vector<std::int16_t> numbered(std::size_t count) {
    std::vector<std::int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i) samples[i] = static_cast<std::int16_t>(i % 32000);
    return samples;
}

std::vector<std::int16_t> slice(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t to) {
    return {samples.begin() + static_cast<std::ptrdiff_t>(from), samples.begin() + static_cast<std::ptrdiff_t>(to)};
}

std::vector<std::int16_t> joined(std::vector<std::vector<std::int16_t>> pieces) {
    std::vector<std::int16_t> all;
    for (const auto& piece : pieces) all.insert(all.end(), piece.begin(), piece.end());
    return all;
}

using Hypothesis = StreamingDecoder::Hypothesis;

struct GatedRun {
    std::vector<std::string> calls;
    std::vector<std::int16_t> decoded;
    std::vector<Hypothesis> hypotheses;
};

// Runs a scripted decoder behind a scripted gate over `audio`, read in pieces of the
// given sizes (repeated).
GatedRun runGated(const GateScript& gate, const std::vector<std::int16_t>& audio, const std::vector<std::size_t>& reads,
                  InMemorySpeechModels::Script engine = {}) {
    InMemorySpeechModels models(std::move(engine));
    GatedDecoder decoder(models.openDecoder("en-US"), std::make_unique<ScriptedSpeechGate>(gate), cli::Logger());
    GatedRun run;
    auto collect = [&](std::vector<Hypothesis> more) { run.hypotheses.insert(run.hypotheses.end(), more.begin(), more.end()); };
    for (std::size_t offset = 0, read = 0; offset < audio.size(); ++read) {
        auto size = std::min(reads[read % reads.size()], audio.size() - offset);
        collect(decoder.feed(audio.data() + offset, size));
        offset += size;
    }
    collect(decoder.finish());
    auto record = models.record();
    run.calls = record.decoderCalls;
    run.decoded = record.samples;
    return run;
}

const std::vector<std::vector<std::size_t>> readSizes{{1}, {3}, {4}, {5}, {7, 1, 13}, {1000}};

TEST(SpeechGate, SpeechFromTheFirstSampleIsDecodedUntilThePauseEndsItWithTheTailOfThePause) {
    // Windows of 4 samples; a stretch ends at the second quiet window in a row.
    GateScript gate{.windowSamples = 4, .speechWindows = {true, true}, .pauseWindows = 2, .windowsBeforeStart = 1,
                    .pauseTailSamples = 3};
    auto audio = numbered(40);
    for (const auto& reads : readSizes) {
        auto run = runGated(gate, audio, reads, {.hypothesesAtFinish = {{"go", true}}});
        SCOPED_TRACE(testing::PrintToString(reads));
        EXPECT_EQ(run.decoded, slice(audio, 0, 11));  // of the pause that ended it, only its tail
        EXPECT_EQ(run.calls, (std::vector<std::string>{"feed", "finish"}));
        EXPECT_EQ(run.hypotheses, (std::vector<Hypothesis>{{"go", true}}));
    }
}

TEST(SpeechGate, SpeechRunningIntoTheEndOfInputEndsThereWithTheSamplesHeldBack) {
    GateScript gate{.windowSamples = 4, .speechWindows = std::vector<bool>(20, true), .pauseWindows = 2};
    auto audio = numbered(42);  // ten windows and half of one
    for (const auto& reads : readSizes) {
        SCOPED_TRACE(testing::PrintToString(reads));
        auto run = runGated(gate, audio, reads);
        EXPECT_EQ(run.decoded, audio);
        EXPECT_EQ(run.calls, (std::vector<std::string>{"feed", "finish"}));
    }
}

TEST(SpeechGate, APauseShorterThanTheShortestPauseIsHeldBackAndDecodedBeforeTheSpeechAfterIt) {
    GateScript gate{.windowSamples = 4,
                    .speechWindows = {false, false, true, true, false, true, true},
                    .pauseWindows = 2,
                    .windowsBeforeStart = 1};
    auto audio = numbered(48);
    for (const auto& reads : readSizes) {
        SCOPED_TRACE(testing::PrintToString(reads));
        auto run = runGated(gate, audio, reads);
        EXPECT_EQ(run.decoded, slice(audio, 4, 28));  // a window before the start, the short pause, no more
        EXPECT_EQ(run.calls, (std::vector<std::string>{"feed", "finish"}));
    }
}

TEST(SpeechGate, ALongPauseEndsAnUtteranceAndTheNextStartBringsTheAudioBeforeIt) {
    GateScript gate{.windowSamples = 4,
                    .speechWindows = {true, false, false, false, false, true},
                    .pauseWindows = 2,
                    .windowsBeforeStart = 2};
    auto audio = numbered(40);
    for (const auto& reads : readSizes) {
        SCOPED_TRACE(testing::PrintToString(reads));
        auto run = runGated(gate, audio, reads);
        // Neither pause that ended a stretch is decoded.
        EXPECT_EQ(run.decoded, joined({slice(audio, 0, 4), slice(audio, 12, 24)}));
        EXPECT_EQ(run.calls,
                  (std::vector<std::string>{"feed", "finish", "feed", "finish"}));
    }
}

TEST(SpeechGate, SilenceAndNoiseReachNoEngineAndMakeNoResult) {
    GateScript gate{.windowSamples = 512, .speechWindows = {}};
    auto run = runGated(gate, numbered(16000), {4096, 100}, {.hypothesesAtFinish = {{"if", true}}});
    EXPECT_TRUE(run.decoded.empty());
    EXPECT_TRUE(run.hypotheses.empty());
    EXPECT_TRUE(run.calls.empty());
}

TEST(SpeechPassageCutter, JoinsTheSpeechWindowsOfOneReadAndKeepsOnlyTheAudioJustBeforeAStart) {
    using enum SpeechPassageCutter::Verdict;
    SpeechPassageCutter cutter(2, 3, 1);
    auto audio = numbered(16);
    std::vector<SpeechPassageCutter::Verdict> verdicts{quiet, quiet, quiet, speech, speech, quiet, speech, speech};
    std::size_t judged = 0;
    auto judge = [&](const std::int16_t* window) {
        EXPECT_EQ(*window, static_cast<std::int16_t>(2 * judged));
        return verdicts.at(judged++);
    };
    auto first = cutter.cut(audio.data(), 12, judge);
    EXPECT_EQ(first, (std::vector<SpeechGate::Passage>{{Change::speechStarts, slice(audio, 3, 10)},
                                                       {Change::speechEnded, {}}}))
        << "the start brings three samples before it, not whole windows, and the next speech window joins it";
    auto second = cutter.cut(audio.data() + 12, 3, judge);
    EXPECT_EQ(second, (std::vector<SpeechGate::Passage>{{Change::speechStarts, slice(audio, 10, 14)}}));
    EXPECT_EQ(cutter.finish(), (std::vector<SpeechGate::Passage>{{Change::speechGoesOn, slice(audio, 14, 15)},
                                                                 {Change::speechEnded, {}}}));
    EXPECT_TRUE(cutter.finish().empty());
}

TEST(SpeechPassageCutter, HoldsAPauseUntilSpeechResumesAndOfAPauseThatEndsAStretchDecodesOnlyItsTail) {
    using enum SpeechPassageCutter::Verdict;
    using Passages = std::vector<SpeechGate::Passage>;
    SpeechPassageCutter cutter(2, 3, 1);
    auto audio = numbered(20);
    std::vector<SpeechPassageCutter::Verdict> verdicts{speech, pause, pause, speech, pause, pause, quiet, speech, pause};
    std::size_t judged = 0;
    auto judge = [&](const std::int16_t*) { return verdicts.at(judged++); };
    EXPECT_EQ(cutter.cut(audio.data(), 10, judge), (Passages{{Change::speechStarts, slice(audio, 0, 8)}}))
        << "a pause goes before the speech after it; the one in progress is held";
    EXPECT_EQ(cutter.cut(audio.data() + 10, 4, judge),
              (Passages{{Change::speechGoesOn, slice(audio, 8, 9)}, {Change::speechEnded, {}}}))
        << "of the pause that ends the stretch, only its tail";
    EXPECT_EQ(cutter.cut(audio.data() + 14, 5, judge), (Passages{{Change::speechStarts, slice(audio, 11, 16)}}))
        << "what the tail left undecoded may come before the next start";
    EXPECT_EQ(cutter.finish(), (Passages{{Change::speechGoesOn, slice(audio, 16, 17)}, {Change::speechEnded, {}}}))
        << "the end of input ends a pause as a stretch's end does";
}

}  // namespace
}  // namespace harkline
