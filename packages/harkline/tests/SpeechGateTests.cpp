#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Platform/Speech/Testing/ScriptedSpeechGate.h"
#include "harkline/Platform/Speech/Testing/InMemorySpeechModels.h"
#include "harkline/Transcription/GatedDecoder.h"

namespace harkline {
namespace {

using GateScript = ScriptedSpeechGate::Script;

// Samples that tell their own position.
std::vector<std::int16_t> numbered(std::size_t count) {
    std::vector<std::int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i) samples[i] = static_cast<std::int16_t>(i % 32000);
    return samples;
}

using Hypothesis = StreamingDecoder::Hypothesis;

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
        {"a pause is decoded whole before the speech after it; of one that ends a stretch (or meets the end of input) only "
         "its tail, and what the tail leaves may come before the next start",
         {.windowSamples = 2, .speechWindows = {true, false, false, true, false, false, false, true}, .pauseWindows = 3,
          .windowsBeforeStart = 2, .pauseTailSamples = 1},
         19, {{0, 9}, {10, 17}}, 2},
        {"the audio before a start brings nothing already decoded",
         {.windowSamples = 2, .speechWindows = {false, false, false, true, true, false, true, true}, .pauseWindows = 1},
         16, {{2, 10}, {10, 16}}, 2},
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
            InMemorySpeechModels models({.hypothesesAtFinish = {{"go", true}}});
            GatedDecoder decoder(models.openDecoder("en-US"), std::make_unique<ScriptedSpeechGate>(gate), cli::Logger());
            std::vector<Hypothesis> hypotheses;
            for (std::size_t offset = 0, read = 0; offset < audio.size(); offset += reads[read++ % reads.size()]) {
                auto more = decoder.feed(audio.data() + offset, std::min(reads[read % reads.size()], audio.size() - offset));
                hypotheses.insert(hypotheses.end(), more.begin(), more.end());
            }
            auto last = decoder.finish();
            hypotheses.insert(hypotheses.end(), last.begin(), last.end());
            EXPECT_EQ(models.record().samples, expected);
            EXPECT_EQ(models.record().decoderCalls, calls);
            if (stretches < 2) {
                EXPECT_EQ(hypotheses, (std::vector<Hypothesis>(stretches, {"go", true})));
            }
        }
    }
}

}  // namespace
}  // namespace harkline
