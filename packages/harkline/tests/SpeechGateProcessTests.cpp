#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli-frame/Json/Json.h"
#include "harkline/tests/HarklineOutput.h"
#include "test-support/ChildProcess.h"
#include "test-support/TemporaryHome.h"

namespace harkline {
namespace {

using namespace std::chrono_literals;
using namespace testing_support;

const std::string recordings = "/usr/share/pocketsphinx/test/data/";
const std::string goForward = recordings + "goforward.raw";
const std::string illDisposed = recordings + "librivox/sense_and_sensibility_01_austen_64kb-0880.wav";
const std::string amiableWoman = recordings + "librivox/sense_and_sensibility_01_austen_64kb-0920.wav";

// What harkline made of the recordings alone before the gate stood in front of the
// engine (Debian's en-US pocketsphinx model).
const std::string goForwardText = "go forward ten meters";
const std::string illDisposedText = "he was not an illness those young man";
const std::string amiableWomanText =
    "had he married a more amiable woman he might have been made still more respectable many watts";

class SpeechGateProcess : public testing::Test {
protected:
    // Audio of the parts that tests/splice-audio.py takes; `where` gets each part's bytes.
    std::string splice(const std::vector<std::string>& parts, cli::Json* where = nullptr) {
        auto output = home_.path() / "spliced.raw";
        std::vector<std::string> arguments{output.string()};
        arguments.insert(arguments.end(), parts.begin(), parts.end());
        auto made = testsupport::runProcess(SPLICE_AUDIO_SCRIPT, {arguments, {}}, "", 60s);
        EXPECT_EQ(made.exitStatus, 0) << made.standardError;
        if (where) *where = cli::Json::parse(made.standardOutput);
        return testsupport::readFile(output);
    }

    std::vector<cli::Json> transcribe(const std::string& audio, const std::string& program = HARKLINE_BINARY) {
        auto run = testsupport::runProcess(program, {{"transcribe"}, home_.environment()}, audio, 120s);
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(run.standardError, "");
        auto results = resultPayloads(run);
        auto closing = lastPayload(run);
        EXPECT_EQ(closing["stage"], "input-stream-closed");
        // The closing line repeats the count of the last result, if any.
        EXPECT_EQ(closing["bytesProcessed"], results.empty() ? cli::Json(0) : results.back()["bytesProcessed"]);
        return results;
    }

    testsupport::TemporaryHome home_;
};

TEST_F(SpeechGateProcess, SilenceAndNoiseAloneMakeNoResultLine) {
    for (const char* noise : {"silence:8", "white:8:-30", "white:8:-20", "pink:8:-25", "brown:8:-20", "brown:8:-10",
                              "hum:8:-30", "hum:8:-20", "hum:8:-10"}) {
        SCOPED_TRACE(noise);
        EXPECT_EQ(transcribe(splice({noise})), std::vector<cli::Json>{});
    }
}

TEST_F(SpeechGateProcess, EachSpokenStretchBetweenNoisesEndsInItsFinalWithItsWordsUnchanged) {
    cli::Json parts;
    auto audio = splice({"white:2:-30", "speech:" + goForward, "pink:3:-30", "speech:" + illDisposed, "brown:3:-20",
                         "speech:" + amiableWoman, "hum:3:-20", "silence:2"},
                        &parts);
    auto results = transcribe(audio);
    EXPECT_EQ(finalTexts(results), (std::vector<std::string>{goForwardText, illDisposedText, amiableWomanText}));
    EXPECT_TRUE(results.back()["isFinal"].get<bool>());
    // Every byte handed on counts, the noise before a stretch too.
    std::vector<cli::Json> finalResults;
    for (const auto& result : results)
        if (result["isFinal"].get<bool>()) finalResults.push_back(result);
    ASSERT_EQ(finalResults.size(), 3u);
    for (std::size_t stretch = 0; stretch < 3; ++stretch)
        EXPECT_GE(finalResults[stretch]["bytesProcessed"].get<std::size_t>(), parts[2 * stretch + 1]["firstByte"].get<std::size_t>());
}

TEST_F(SpeechGateProcess, ASentenceWithNoiseBeforeAndAfterYieldsItsWordsInOneFinal) {
    // White noise at -40 dBFS keeps the detector's stretch going for about a second after
    // the last word: the engine made "if" of it until a pause was held back.
    for (const char* noise : {"white:2:-30", "white:3:-40", "brown:2:-20", "hum:2:-20"}) {
        SCOPED_TRACE(noise);
        auto results = transcribe(splice({noise, "speech:" + goForward, noise}));
        EXPECT_EQ(finalTexts(results), std::vector<std::string>{goForwardText});
    }
    // Speech from the first sample to the last: the end of input ends it.
    EXPECT_EQ(finalTexts(transcribe(splice({"speech:" + goForward}))), std::vector<std::string>{goForwardText});
}

TEST_F(SpeechGateProcess, AMissingOrDamagedGateModelIsReportedAndTranscriptionGoesOnUngated) {
    // A copy of the program finds its gate model beside its own bin/ folder.
    auto bin = home_.path() / "prefix" / "bin";
    auto model = home_.path() / "prefix" / "share" / "tessaryn" / "silero_vad.onnx";
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(model.parent_path());
    std::filesystem::copy_file(HARKLINE_BINARY, bin / "harkline");
    auto program = (bin / "harkline").string();
    auto envCheck = [&] {
        auto run = testsupport::runProcess(program, {{"env.check"}, home_.environment()}, "", 60s);
        EXPECT_EQ(run.exitStatus, 0);
        return lastPayload(run);
    };

    auto missing = envCheck();
    EXPECT_EQ(missing["stage"], "env-ok");
    EXPECT_EQ(missing["data"]["speechGate"], "unavailable");
    EXPECT_EQ(missing["data"]["speechGateProblem"], "the speech gate model " + model.string() + " is missing");

    testsupport::writeFile(model, std::string(2327524, 'x'));
    auto damaged = envCheck();
    EXPECT_EQ(damaged["data"]["speechGateProblem"],
              "the speech gate model " + model.string() + " is damaged: it is not the file harkline pins");
    auto diagnostics = testsupport::runProcess(program, {{"diagnostics.state"}, home_.environment()}, "", 60s);
    EXPECT_EQ(lastPayload(diagnostics)["data"]["env"], damaged["data"]);

    auto results = transcribe(splice({"silence:1", "speech:" + goForward, "silence:1"}), program);
    EXPECT_EQ(finalTexts(results), std::vector<std::string>{goForwardText});
    auto text = harklineLog(home_);
    EXPECT_NE(text.find("[ERROR] 语音门控不可用，转写不经门控继续: the speech gate model " + model.string() + " is damaged"),
              std::string::npos);
    std::size_t errors = 0;
    for (std::size_t at = text.find("[ERROR]"); at != std::string::npos; at = text.find("[ERROR]", at + 1)) ++errors;
    EXPECT_EQ(errors, 1u);
}

}  // namespace
}  // namespace harkline
