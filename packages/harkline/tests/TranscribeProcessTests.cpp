#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli-frame/Json/Json.h"
#include "harkline/tests/HarklineOutput.h"
#include "test-support/ChildProcess.h"
#include "test-support/TemporaryHome.h"

// harkline transcribe as the host runs it, on Debian's en-US model and recordings of
// pocketsphinx's package, with the speech gate in front unless a test takes it away.
namespace harkline {
namespace {

using namespace std::chrono_literals;
using namespace testing_support;
using testsupport::ChildProcess;
using testsupport::ProcessResult;

const std::string recordings = "/usr/share/pocketsphinx/test/data/";
const std::string goForward = recordings + "goforward.raw";
const std::string illDisposed = recordings + "librivox/sense_and_sensibility_01_austen_64kb-0880.wav";
const std::string amiableWoman = recordings + "librivox/sense_and_sensibility_01_austen_64kb-0920.wav";

// What harkline made of the recordings alone before the gate stood in front of the engine.
const std::string goForwardText = "go forward ten meters";
const std::string illDisposedText = "he was not an illness those young man";
const std::string amiableWomanText =
    "had he married a more amiable woman he might have been made still more respectable many watts";

class TranscribeProcess : public testing::Test {
protected:
    // Nothing installed, the built-in catalogue: Debian's en-US model serves where it lies.
    testsupport::ProcessOptions options(std::vector<std::string> arguments = {"transcribe"}) const {
        auto environment = home_.environment();
        environment["TESSARYN_SPEECH_MODEL_CATALOG"] = std::nullopt;
        environment["TESSARYN_SPEECH_MODEL_SOURCES"] = std::nullopt;
        return {std::move(arguments), environment};
    }
    ProcessResult run(std::vector<std::string> arguments, const std::string& input = {},
                      const std::string& program = HARKLINE_BINARY) const {
        return testsupport::runProcess(program, options(std::move(arguments)), input, 120s);
    }
    std::vector<cli::Json> transcribe(const std::string& audio, const std::string& program = HARKLINE_BINARY) const {
        auto transcribed = run({"transcribe"}, audio, program);
        EXPECT_EQ(transcribed.standardError, "");
        return transcriptionResults(transcribed);
    }
    std::string statusLine(const std::string& stage, const std::string& counted = "") const {
        return R"({"type":"status","payload":{"stage":")" + stage + "\"," + counted + R"("logPath":")" +
               harklineLogPath(home_).string() + "\"}}";
    }

    // Audio of the parts that tests/splice-audio.py takes; `where` gets each part's bytes.
    std::string splice(const std::vector<std::string>& parts, cli::Json* where = nullptr) const {
        auto output = home_.path() / "spliced.raw";
        std::vector<std::string> arguments{output.string()};
        arguments.insert(arguments.end(), parts.begin(), parts.end());
        auto made = testsupport::runProcess(SPLICE_AUDIO_SCRIPT, {arguments, {}}, "", 60s);
        EXPECT_EQ(made.exitStatus, 0) << made.standardError;
        if (where) *where = cli::Json::parse(made.standardOutput);
        return testsupport::readFile(output);
    }

    testsupport::TemporaryHome home_;
};

TEST_F(TranscribeProcess, ARecordingIsTranscribedWithPartialResultsThenTheFinalOne) {
    // An odd byte count: the last byte becomes one zero-padded frame, which counts as handed on.
    auto audio = testsupport::readFile(goForward) + "\x01";
    auto handedOn = std::to_string(audio.size() + 1);
    auto transcribed = run({"transcribe"}, audio);
    EXPECT_EQ(transcribed.standardError, "");
    auto results = transcriptionResults(transcribed, static_cast<std::int64_t>(audio.size()) + 1);
    ASSERT_GE(results.size(), 2u);
    EXPECT_FALSE(results.front()["isFinal"].get<bool>());
    auto lines = transcribed.lines();
    EXPECT_EQ(lines[0], statusLine("booting"));
    EXPECT_EQ(lines[1], statusLine("ready"));
    EXPECT_EQ(lines[lines.size() - 2], R"({"type":"result","payload":{"text":")" + goForwardText +
                                           R"(","isFinal":true,"bytesProcessed":)" + handedOn + "}}");
    EXPECT_EQ(lines.back(), statusLine("input-stream-closed", "\"bytesProcessed\":" + handedOn + ","));

    auto log = harklineLog(home_);
    EXPECT_NE(log.find("[INFO] Locale 匹配失败，回退到 en-US\n"), std::string::npos);
    EXPECT_NE(log.find("[INFO] CLIRuntime 正常结束 bytesProcessed=" + handedOn + "\n"), std::string::npos);

    // Meanwhile the catalogue's better en-US model is there to download, and both answers say so.
    auto status = lastPayload(run({"assets.status", "--locale", "en-US"}));
    EXPECT_EQ(status.value("code", ""), "apple_assets_missing");
    EXPECT_EQ(status.at("data").dump(), R"({"locale":"en-US","status":"assets-available","installed":false})");
    auto locales = lastPayload(run({"support.locales"})).at("data").at("locales");
    auto english = std::find_if(locales.begin(), locales.end(), [](const cli::Json& entry) { return entry.at("locale") == "en-US"; });
    ASSERT_NE(english, locales.end()) << locales.dump();
    EXPECT_TRUE(english->at("needsDownload").get<bool>());

    // An unknown first word is routed to transcription too, even one that looks like an option.
    EXPECT_TRUE(transcriptionResults(run({"--trial-load-speech-model", home_.path().string()}), 0).empty());
}

// The most memory the process has held so far, from /proc.
long peakResidentKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
    return -1;
}

TEST_F(TranscribeProcess, ResultsComeWhileAudioArrivesAndAWriterFasterThanTheEngineWaitsInsteadOfGrowingTheProcess) {
    auto speech = testsupport::readFile(goForward);
    ChildProcess child(HARKLINE_BINARY, options());
    ASSERT_TRUE(child.write(speech));
    // Once a result is out the engine has loaded its model: growth from here on is audio held.
    for (int line = 0; line < 2; ++line) ASSERT_TRUE(child.readLine(60s));
    EXPECT_NE(child.readLine(60s).value_or("").find(R"("isFinal":false)"), std::string::npos) << "no partial before the end of input";
    [[maybe_unused]] auto loaded = peakResidentKilobytes(child.pid());
    std::string silence(8 << 20, '\0');  // over four minutes of audio, as fast as the pipe takes it
    ASSERT_TRUE(child.write(silence));
    [[maybe_unused]] auto afterSilence = peakResidentKilobytes(child.pid());
    // Sanitizers hold freed memory back and add shadow memory of their own: there the
    // process's peak says nothing about what it holds.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(afterSilence - loaded, 4096) << "peak grew from " << loaded << " kB to " << afterSilence << " kB";
#endif

    ASSERT_TRUE(child.write(speech));
    child.closeInput();
    auto results = transcriptionResults(child.wait(120s), static_cast<std::int64_t>(2 * speech.size() + silence.size()));
    EXPECT_EQ(finalTexts(results), (std::vector<std::string>{goForwardText, goForwardText}));
}

TEST_F(TranscribeProcess, AHostThatClosesOurOutputEarlyEndsTheProcessWithStatusOne) {
    // The reading side of the pipe is gone before harkline writes its results.
    auto result = testsupport::runProcess(
        "/bin/bash",
        {{"-c", R"(exec 3<"$1"; "$0" transcribe <&3 | exec 0<&-; echo "${PIPESTATUS[0]}" >&2)", HARKLINE_BINARY, goForward},
         home_.environment()},
        "", 60s);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardError, "1\n");  // not killed by SIGPIPE, nothing written to standard error
    EXPECT_NE(harklineLog(home_).find("[ERROR] 写入标准输出失败 type="), std::string::npos);
}

TEST_F(TranscribeProcess, NoiseAloneMakesNoResultAndASentenceBetweenNoisesItsWordsInOneFinal) {
    for (const char* noise : {"silence:8", "white:8:-30", "white:8:-20", "pink:8:-25", "brown:8:-20", "brown:8:-10",
                              "hum:8:-30", "hum:8:-20", "hum:8:-10"}) {
        SCOPED_TRACE(noise);
        EXPECT_EQ(transcribe(splice({noise})), std::vector<cli::Json>{});
    }
    // White noise at -40 dBFS keeps the detector's stretch going for about a second after
    // the last word: the engine made "if" of it until a pause was held back.
    for (const char* noise : {"white:2:-30", "white:3:-40", "brown:2:-20", "hum:2:-20"}) {
        SCOPED_TRACE(noise);
        EXPECT_EQ(finalTexts(transcribe(splice({noise, "speech:" + goForward, noise}))), std::vector<std::string>{goForwardText});
    }
    // Speech from the first sample to the last: the end of input ends it.
    EXPECT_EQ(finalTexts(transcribe(splice({"speech:" + goForward}))), std::vector<std::string>{goForwardText});
}

TEST_F(TranscribeProcess, EachSpokenStretchBetweenNoisesEndsInItsFinalWithItsWordsUnchanged) {
    cli::Json parts;
    auto audio = splice({"white:2:-30", "speech:" + goForward, "pink:3:-30", "speech:" + illDisposed, "brown:3:-20",
                         "speech:" + amiableWoman, "hum:3:-20", "silence:2"},
                        &parts);
    auto results = transcribe(audio);
    EXPECT_EQ(finalTexts(results), (std::vector<std::string>{goForwardText, illDisposedText, amiableWomanText}));
    EXPECT_TRUE(results.back()["isFinal"].get<bool>());
    // Every byte handed on counts, the noise before a stretch too.
    std::vector<cli::Json> finals;
    std::copy_if(results.begin(), results.end(), std::back_inserter(finals), [](const cli::Json& result) { return result["isFinal"].get<bool>(); });
    ASSERT_EQ(finals.size(), 3u);
    for (std::size_t stretch = 0; stretch < 3; ++stretch)
        EXPECT_GE(finals[stretch]["bytesProcessed"].get<std::size_t>(), parts[2 * stretch + 1]["firstByte"].get<std::size_t>());
}

TEST_F(TranscribeProcess, AMissingOrDamagedGateModelIsReportedAndTranscriptionGoesOnUngated) {
    // A copy of the program finds its gate model beside its own bin/ folder.
    auto bin = home_.path() / "prefix" / "bin";
    auto model = home_.path() / "prefix" / "share" / "tessaryn" / "silero_vad.onnx";
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(model.parent_path());
    std::filesystem::copy_file(HARKLINE_BINARY, bin / "harkline");
    auto program = (bin / "harkline").string();
    auto envCheck = [&] { return lastPayload(run({"env.check"}, "", program)); };

    auto missing = envCheck();
    EXPECT_EQ(missing["stage"], "env-ok");
    EXPECT_EQ(missing["data"]["speechGate"], "unavailable");
    EXPECT_EQ(missing["data"]["speechGateProblem"], "the speech gate model " + model.string() + " is missing");

    testsupport::writeFile(model, std::string(2327524, 'x'));
    auto damaged = envCheck();
    EXPECT_EQ(damaged["data"]["speechGateProblem"],
              "the speech gate model " + model.string() + " is damaged: it is not the file harkline pins");
    EXPECT_EQ(lastPayload(run({"diagnostics.state"}, "", program))["data"]["env"], damaged["data"]);

    auto results = transcribe(splice({"silence:1", "speech:" + goForward, "silence:1"}), program);
    EXPECT_EQ(finalTexts(results), std::vector<std::string>{goForwardText});
    auto log = harklineLog(home_);
    EXPECT_NE(log.find("[ERROR] 语音门控不可用，转写不经门控继续: the speech gate model " + model.string() + " is damaged"),
              std::string::npos);
    EXPECT_EQ(occurrences(log, "[ERROR]"), 1u);
}

}  // namespace
}  // namespace harkline
