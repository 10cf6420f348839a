#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "cli-frame/Json/Json.h"
#include "harkline/tests/HarklineOutput.h"
#include "test-support/ChildProcess.h"
#include "test-support/TemporaryHome.h"

namespace harkline {
namespace {

using namespace std::chrono_literals;
using testsupport::ChildProcess;
using testsupport::ProcessResult;

const std::filesystem::path recordings = "/usr/share/pocketsphinx/test/data";

// The samples of a 16 kHz mono 16-bit WAV file: the bytes of its "data" chunk.
std::string wavSamples(const std::filesystem::path& path) {
    auto bytes = testsupport::readFile(path);
    for (std::size_t offset = 12; offset + 8 <= bytes.size();) {
        auto size = static_cast<std::size_t>(static_cast<unsigned char>(bytes[offset + 4])) |
                    static_cast<std::size_t>(static_cast<unsigned char>(bytes[offset + 5])) << 8 |
                    static_cast<std::size_t>(static_cast<unsigned char>(bytes[offset + 6])) << 16 |
                    static_cast<std::size_t>(static_cast<unsigned char>(bytes[offset + 7])) << 24;
        if (bytes.compare(offset, 4, "data") == 0) return bytes.substr(offset + 8, size);
        offset += 8 + size + (size & 1);
    }
    throw std::runtime_error("no data chunk in " + path.string());
}

class TranscribeProcess : public testing::Test {
protected:
    // Nothing installed, the built-in catalogue: Debian's en-US model serves where it lies.
    testsupport::ProcessOptions options(std::vector<std::string> arguments = {"transcribe"}) const {
        auto environment = home_.environment();
        environment["TESSARYN_SPEECH_MODEL_CATALOG"] = std::nullopt;
        environment["TESSARYN_SPEECH_MODEL_SOURCES"] = std::nullopt;
        return {std::move(arguments), environment};
    }
    cli::Json payloadOf(std::vector<std::string> arguments) const {
        return cli::Json::parse(testsupport::runProcess(HARKLINE_BINARY, options(std::move(arguments))).standardOutput)
            .at("payload");
    }
    std::string logPath() const { return testing_support::harklineLogPath(home_).string(); }

    static std::vector<cli::Json> parse(const ProcessResult& result) {
        std::vector<cli::Json> lines;
        for (const auto& line : result.lines()) lines.push_back(cli::Json::parse(line));
        return lines;
    }

    // Checks the order of the lines and returns the results' payloads.
    std::vector<cli::Json> checkedResults(const std::vector<cli::Json>& lines, std::int64_t bytesProcessed) const {
        EXPECT_GE(lines.size(), 3u);
        if (lines.size() < 3) return {};
        cli::Json status = {{"type", "status"}, {"payload", {{"stage", ""}, {"logPath", logPath()}}}};
        status["payload"]["stage"] = "booting";
        EXPECT_EQ(lines[0], status);
        status["payload"]["stage"] = "ready";
        EXPECT_EQ(lines[1], status);
        cli::Json closing = {{"type", "status"},
                             {"payload", {{"stage", "input-stream-closed"}, {"bytesProcessed", bytesProcessed}, {"logPath", logPath()}}}};
        EXPECT_EQ(lines.back(), closing);
        std::vector<cli::Json> results;
        std::int64_t previousBytes = 0;
        for (std::size_t index = 2; index + 1 < lines.size(); ++index) {
            EXPECT_EQ(lines[index]["type"], "result");
            const auto& payload = lines[index]["payload"];
            EXPECT_FALSE(payload.contains("confidence"));
            auto bytes = payload.at("bytesProcessed").get<std::int64_t>();
            EXPECT_GE(bytes, previousBytes);
            EXPECT_LE(bytes, bytesProcessed);
            previousBytes = bytes;
            results.push_back(payload);
        }
        return results;
    }

    static std::string finalText(const std::vector<cli::Json>& results) {
        std::string text;
        for (const auto& result : results)
            if (result["isFinal"].get<bool>()) text += (text.empty() ? "" : " ") + result["text"].get<std::string>();
        return text;
    }

    testsupport::TemporaryHome home_;
};

TEST_F(TranscribeProcess, ARecordingIsTranscribedWithPartialResultsThenTheFinalOne) {
    // An odd byte count: the last byte becomes one zero-padded frame, which counts as handed on.
    auto audio = testsupport::readFile(recordings / "goforward.raw") + "\x01";
    auto handedOn = audio.size() + 1;
    auto result = testsupport::runProcess(HARKLINE_BINARY, options(), audio, 60s);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardError, "");
    auto results = checkedResults(parse(result), static_cast<std::int64_t>(handedOn));
    ASSERT_GE(results.size(), 2u);
    EXPECT_FALSE(results.front()["isFinal"].get<bool>());
    EXPECT_TRUE(results.back()["isFinal"].get<bool>());
    EXPECT_EQ(finalText(results), "go forward ten meters");

    auto log = testsupport::readFile(logPath());
    EXPECT_NE(log.find("[INFO] Locale 匹配失败，回退到 en-US\n"), std::string::npos);
    EXPECT_NE(log.find("[INFO] CLIRuntime 正常结束 bytesProcessed=" + std::to_string(handedOn) + "\n"), std::string::npos);

    // Meanwhile the catalogue's better en-US model is there to download, and both answers say so.
    auto status = payloadOf({"assets.status", "--locale", "en-US"});
    EXPECT_EQ(status.value("code", ""), "apple_assets_missing");
    EXPECT_EQ(status.at("data").dump(), R"({"locale":"en-US","status":"assets-available","installed":false})");
    auto locales = payloadOf({"support.locales"}).at("data").at("locales");
    auto english = std::find_if(locales.begin(), locales.end(), [](const cli::Json& entry) { return entry.at("locale") == "en-US"; });
    ASSERT_NE(english, locales.end()) << locales.dump();
    EXPECT_TRUE(english->at("needsDownload").get<bool>());
}

TEST_F(TranscribeProcess, AudioFedInRealTimeGivesPartialResultsWhileItArrives) {
    auto audio = wavSamples(recordings / "librivox" / "sense_and_sensibility_01_austen_64kb-0880.wav");
    ChildProcess child(HARKLINE_BINARY, options());
    ASSERT_EQ(child.readLine(20s).value_or(""), R"({"type":"status","payload":{"stage":"booting","logPath":")" + logPath() + "\"}}");
    ASSERT_TRUE(child.readLine(20s));

    // A second of quiet noise first, as a microphone gives before anyone speaks: the
    // engine loads its model meanwhile. 4096 bytes are 128 ms of audio; an odd cut now
    // and then must not matter.
    std::string quiet(32000, '\0');
    for (std::size_t index = 0; index < quiet.size(); index += 2) quiet[index] = static_cast<char>(index * 31 % 7);
    audio = quiet + audio;
    std::vector<cli::Json> beforeEndOfInput;
    for (std::size_t offset = 0; offset < audio.size();) {
        auto size = std::min<std::size_t>(offset % 3 == 0 ? 4095 : 4097, audio.size() - offset);
        ASSERT_TRUE(child.write(audio.substr(offset, size)));
        offset += size;
        std::this_thread::sleep_for(128ms);
        while (auto line = child.readLine(0ms)) beforeEndOfInput.push_back(cli::Json::parse(*line));
    }
    // Standard input stays open: a loaded machine may lag behind real time a little.
    if (beforeEndOfInput.empty()) {
        if (auto line = child.readLine(10s)) beforeEndOfInput.push_back(cli::Json::parse(*line));
    }
    ASSERT_FALSE(beforeEndOfInput.empty()) << "no result before the end of input";
    EXPECT_FALSE(beforeEndOfInput.front()["payload"]["isFinal"].get<bool>());

    child.closeInput();
    auto result = child.wait(30s);
    EXPECT_EQ(result.exitStatus, 0);
    auto results = checkedResults(parse(result), static_cast<std::int64_t>(audio.size()));
    auto text = finalText(results);
    // "he was not an ill disposed young man": most of its words, not necessarily all.
    int recognised = 0;
    for (const char* word : {"he", "was", "not", "ill", "disposed", "young", "man"})
        recognised += (" " + text + " ").find(std::string(" ") + word + " ") != std::string::npos;
    EXPECT_GE(recognised, 5) << text;
}

TEST_F(TranscribeProcess, EmptyInputClosesWithNothingHandedOn) {
    // An unknown first word is routed to transcription too, even one that looks like an option.
    auto empty = testsupport::runProcess(HARKLINE_BINARY, options({"--trial-load-speech-model", home_.path().string()}), "", 60s);
    EXPECT_EQ(empty.exitStatus, 0);
    EXPECT_TRUE(checkedResults(parse(empty), 0).empty());
}

// Sanitizers hold freed memory back and add shadow memory of their own: there the
// process's peak says nothing about what it holds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool peakMemoryTellsWhatIsHeld = false;
#else
constexpr bool peakMemoryTellsWhatIsHeld = true;
#endif

// The most memory the process has held so far, from /proc.
long peakResidentKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
    return -1;
}

TEST_F(TranscribeProcess, AWriterFasterThanTheEngineWaitsInsteadOfGrowingTheProcess) {
    auto speech = testsupport::readFile(recordings / "goforward.raw");
    ChildProcess child(HARKLINE_BINARY, options());
    ASSERT_TRUE(child.write(speech));
    // Once a result is out the engine has loaded its model: growth from here on is audio held.
    for (int line = 0; line < 3; ++line) ASSERT_TRUE(child.readLine(60s));
    auto loaded = peakResidentKilobytes(child.pid());
    std::string silence(8 << 20, '\0');  // over four minutes of audio, as fast as the pipe takes it
    ASSERT_TRUE(child.write(silence));
    auto afterSilence = peakResidentKilobytes(child.pid());
    if (peakMemoryTellsWhatIsHeld) {
        EXPECT_LT(afterSilence - loaded, 4096) << "peak grew from " << loaded << " kB to " << afterSilence << " kB";
    }

    ASSERT_TRUE(child.write(speech));
    child.closeInput();
    auto result = child.wait(120s);
    EXPECT_EQ(result.exitStatus, 0);
    auto results = checkedResults(parse(result), static_cast<std::int64_t>(2 * speech.size() + silence.size()));
    EXPECT_EQ(finalText(results), "go forward ten meters go forward ten meters");
}

TEST_F(TranscribeProcess, AHostThatClosesOurOutputEarlyEndsTheProcessWithStatusOne) {
    // The reading side of the pipe is gone before harkline writes its results.
    auto result = testsupport::runProcess(
        "/bin/bash",
        {{"-c", R"(exec 3<"$1"; "$0" transcribe <&3 | exec 0<&-; echo "${PIPESTATUS[0]}" >&2)", HARKLINE_BINARY,
          (recordings / "goforward.raw").string()},
         home_.environment()},
        "", 60s);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardError, "1\n");  // not killed by SIGPIPE, nothing written to standard error
    EXPECT_NE(testsupport::readFile(logPath()).find("[ERROR] 写入标准输出失败 type="), std::string::npos);
}

}  // namespace
}  // namespace harkline
