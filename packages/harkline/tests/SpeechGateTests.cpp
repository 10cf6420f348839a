#include <algorithm>
#include <cstdint>
#include <ostream>
#include <memory>
#include <string>
#include <utility>
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

// Each case is read in every pattern of read sizes, none of which may change what reaches
// the engine: the ranges of the audio it is fed, one feed and finish per stretch.
TEST(SpeechGate, EachStretchReachesTheEngineWithTheAudioTheGateKeepsAroundIt) {
    struct Case {
        const char* name;
        GateScript gate;
        std::size_t samples;
        std::vector<std::pair<std::size_t, std::size_t>> decoded;
        std::size_t stretches;
    };
    const Case cases[] = {
        {"speech from the first sample, ended by a pause of which only the tail is decoded",
         {.windowSamples = 4, .speechWindows = {true, true}, .pauseWindows = 2, .windowsBeforeStart = 1, .pauseTailSamples = 3},
         40, {{0, 11}}, 1},
        {"speech running into the end of input ends there with the samples held back",
         {.windowSamples = 4, .speechWindows = std::vector<bool>(20, true), .pauseWindows = 2}, 42, {{0, 42}}, 1},
        {"a pause shorter than the shortest is held back and decoded before the speech after it (one window before the start)",
         {.windowSamples = 4, .speechWindows = {false, false, true, true, false, true, true}, .pauseWindows = 2,
          .windowsBeforeStart = 1},
         48, {{4, 28}}, 1},
        {"a long pause ends an utterance, the next start brings the audio before it, neither ending pause is decoded",
         {.windowSamples = 4, .speechWindows = {true, false, false, false, false, true}, .pauseWindows = 2,
          .windowsBeforeStart = 2},
         40, {{0, 4}, {12, 24}}, 2},
        {"silence and noise reach no engine and make no result", {.windowSamples = 512, .speechWindows = {}}, 16000, {}, 0},
    };
    for (const auto& [name, gate, samples, decoded, stretches] : cases) {
        auto audio = numbered(samples);
        std::vector<std::int16_t> expected;
        for (auto [from, to] : decoded) expected.insert(expected.end(), audio.begin() + from, audio.begin() + to);
        std::vector<std::string> calls;
        for (std::size_t stretch = 0; stretch < stretches; ++stretch) calls.insert(calls.end(), {"feed", "finish"});
        for (const auto& reads : readSizes) {
            SCOPED_TRACE(std::string(name) + ", reads of " + testing::PrintToString(reads));
            auto run = runGated(gate, audio, reads, {.hypothesesAtFinish = {{"go", true}}});
            EXPECT_EQ(run.decoded, expected);
            EXPECT_EQ(run.calls, calls);
            if (stretches < 2) {
                EXPECT_EQ(run.hypotheses, (std::vector<Hypothesis>(stretches, {"go", true})));
            }
        }
    }
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
