#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <thread>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli-frame/Json/Json.h"
#include "harkline/tests/HarklineOutput.h"
#include "test-support/ChildProcess.h"
#include "test-support/TemporaryHome.h"

// harkline's dictations on the user's warm speech engine, as the host runs them: each run
// is compared byte for byte with the same run decoding in its own process.
namespace harkline {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::ProcessResult;
using Environment = std::map<std::string, std::optional<std::string>>;

class WarmEngineProcess : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(runtime());
        fs::permissions(runtime(), fs::perms::owner_all);
        testing_support::runSpeechTestModel({"make", source().string(), "--locale", "zh-CN"});
        install();
        testsupport::writeFile(audio(), testing_support::runSpeechTestModel({"spell", source().string(), "你好世界|HELLO"}).standardOutput);
        local_ = transcribe({{"TESSARYN_WARM_ENGINE", "off"}});
    }
    // Sanitizer reports of the dictations and the engine land in the home folder.
    void TearDown() override {
        if (auto state = engineState()) ::kill(state->at("pid").get<pid_t>(), SIGKILL);
        fs::remove_all(runtime());
        for (const auto& entry : fs::directory_iterator(home_.path()))
            EXPECT_FALSE(entry.path().filename().string().starts_with("sanitizer")) << testsupport::readFile(entry.path());
    }

    fs::path runtime() const { return home_.path() / "run"; }
    fs::path socket() const { return runtime() / "harkline-warm-engine.socket"; }
    fs::path source() const { return home_.path() / "zh-model"; }
    fs::path audio() const { return home_.path() / "audio.raw"; }
    std::string log() const { return testing_support::harklineLog(home_); }

    Environment environment(const Environment& extra = {}) const {
        auto variables = home_.environment();
        variables["TESSARYN_SPEECH_GATE"] = "off";  // the spelled tones are no speech
        variables["TESSARYN_SPEECH_MODEL_SOURCES"] = source().string();
        variables["XDG_RUNTIME_DIR"] = runtime().string();
        for (const char* name : {"ASAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
            const char* options = std::getenv(name);
            variables[name] = std::string(options ? options : "") + ":log_path=" + (home_.path() / "sanitizer").string();
        }
        for (const auto& [name, value] : extra) variables[name] = value;
        return variables;
    }
    ProcessResult run(std::vector<std::string> arguments, const Environment& extra = {}) const {
        auto result = testsupport::runProcess(HARKLINE_BINARY, {std::move(arguments), environment(extra)}, "", 60s);
        EXPECT_FALSE(result.timedOut);
        return result;
    }
    void install() const {
        auto lines = run({"assets.download", "--locale", "zh-CN"}).lines();
        ASSERT_FALSE(lines.empty());
        ASSERT_EQ(cli::Json::parse(lines.back()).at("payload").at("stage"), "assets-ready");
    }
    // Audio from a file, so that every read is whole and the output the same each time.
    testsupport::ProcessOptions transcribeOptions(const Environment& extra, int input) const {
        return {{"transcribe"}, environment(extra), {input, testsupport::pipeToTest, testsupport::pipeToTest}};
    }
    ProcessResult transcribe(const Environment& extra = {}) const {
        int input = ::open(audio().c_str(), O_RDONLY | O_CLOEXEC);
        auto result = testsupport::runProcess(HARKLINE_BINARY, transcribeOptions(extra, input), "", 60s);
        ::close(input);
        return result;
    }
    std::optional<cli::Json> engineState() const {
        auto data = cli::Json::parse(run({"diagnostics.state"}).standardOutput).at("payload").at("data");
        return data.contains("warmEngine") ? std::optional(data.at("warmEngine")) : std::nullopt;
    }
    // A result counts the bytes cut when it came, which depends on how far reading ran
    // ahead of decoding: everything else of the output is compared byte for byte.
    static std::string withoutResultCounts(const std::string& output) {
        static const std::regex count(R"(("type":"result".*"bytesProcessed":)\d+)");
        return std::regex_replace(output, count, "$1N");
    }
    void expectLocalOutput(const ProcessResult& run) const {
        EXPECT_EQ(withoutResultCounts(run.standardOutput), withoutResultCounts(local_.standardOutput));
    }
    static std::size_t count(const std::string& text, const std::string& part) {
        std::size_t found = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
        return found;
    }
    void awaitEngineEnd() const {
        for (int attempt = 0; attempt < 600 && fs::exists(socket()); ++attempt) std::this_thread::sleep_for(50ms);
        EXPECT_FALSE(fs::exists(socket())) << log();
    }

    testsupport::TemporaryHome home_;
    ProcessResult local_;
};

TEST_F(WarmEngineProcess, DictationsInARowAndAtOnceShareOneLoadAndWriteWhatALocalRunWrites) {
    ASSERT_EQ(local_.exitStatus, 0);
    ASSERT_NE(local_.standardOutput.find("\"text\":\"你好世界\",\"isFinal\":true"), std::string::npos) << local_.standardOutput;
    EXPECT_FALSE(engineState());

    expectLocalOutput(transcribe());
    expectLocalOutput(transcribe());
    {
        int first = ::open(audio().c_str(), O_RDONLY | O_CLOEXEC), second = ::open(audio().c_str(), O_RDONLY | O_CLOEXEC);
        testsupport::ChildProcess one(HARKLINE_BINARY, transcribeOptions({}, first));
        testsupport::ChildProcess two(HARKLINE_BINARY, transcribeOptions({}, second));
        ::close(first);
        ::close(second);
        expectLocalOutput(one.wait(60s));
        expectLocalOutput(two.wait(60s));
    }
    auto state = engineState();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->at("loads"), 1) << state->dump();
    ASSERT_EQ(state->at("models").size(), 1u);
    EXPECT_EQ(state->at("models")[0].at("locale"), "zh-CN");
    EXPECT_GT(state->at("residentBytes").get<std::int64_t>(), 0);
    auto written = log();
    EXPECT_EQ(count(written, "常驻语音引擎解码本次转写，模型为此加载"), 1u) << written;
    EXPECT_EQ(count(written, "常驻语音引擎解码本次转写，模型已在内存中"), 3u);

    // Installed anew in the same folder: the next dictation loads the new model, the old one goes.
    testing_support::runSpeechTestModel({"make", source().string(), "--locale", "zh-CN", "--ctc"});
    install();
    auto warm = transcribe().standardOutput;
    EXPECT_EQ(withoutResultCounts(warm), withoutResultCounts(transcribe({{"TESSARYN_WARM_ENGINE", "off"}}).standardOutput));
    EXPECT_NE(warm.find("\"text\":\"你好世界\",\"isFinal\":true"), std::string::npos) << warm;
    state = engineState();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->at("loads"), 2);
    ASSERT_EQ(state->at("models").size(), 1u);
    EXPECT_EQ(state->at("models")[0].at("engine"), "sherpa-onnx-ctc");
}

TEST_F(WarmEngineProcess, AnEngineKilledMidDictationEndsItWithItsErrorLineAndTheNextRunStartsAFreshOne) {
    auto spoken = testsupport::readFile(audio());
    testsupport::ChildProcess child(HARKLINE_BINARY, {{"transcribe"}, environment()});
    EXPECT_TRUE(child.write(spoken.substr(0, spoken.size() / 2)));
    std::optional<std::string> line;
    while ((line = child.readLine(60s)) && line->find("\"type\":\"result\"") == std::string::npos) {}
    ASSERT_TRUE(line) << "no result before the kill";
    auto state = engineState();
    ASSERT_TRUE(state);
    ASSERT_EQ(::kill(state->at("pid").get<pid_t>(), SIGKILL), 0);
    child.write(spoken.substr(spoken.size() / 2));
    child.closeInput();
    auto ended = child.wait(60s);
    ASSERT_FALSE(ended.timedOut);
    auto lines = ended.lines();
    ASSERT_FALSE(lines.empty());
    auto last = cli::Json::parse(lines.back());
    if (ended.exitStatus == 1) {
        EXPECT_EQ(last.at("payload").at("code"), "apple_transcribe_failed") << ended.standardOutput;
    } else {
        EXPECT_EQ(ended.exitStatus, 0);
        EXPECT_EQ(last.at("payload").at("stage"), "input-stream-closed") << ended.standardOutput;
    }

    // The killed engine left its socket: the next run replaces it with a new engine, which
    // then ends itself once idle.
    ASSERT_TRUE(fs::is_socket(socket()));
    expectLocalOutput(transcribe({{"TESSARYN_WARM_ENGINE_IDLE_SECONDS", "1"}}));
    EXPECT_EQ(count(log(), "常驻语音引擎解码本次转写，模型为此加载"), 2u) << log();
    awaitEngineEnd();
    EXPECT_FALSE(engineState());
}

TEST_F(WarmEngineProcess, WithoutAnEngineOfItsOwnARunDecodesItselfAndSaysWhy) {
    // A socket of another user in the runtime folder: refused, and left alone.
    int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket().c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::chown(socket().c_str(), 65534, 65534), 0);
    expectLocalOutput(transcribe());
    EXPECT_NE(log().find("常驻语音引擎不可用，本进程加载模型: " + socket().string() + " belongs to another user"),
              std::string::npos) << log();
    EXPECT_FALSE(engineState());
    ::close(listener);

    // An engine of another version, which greets differently.
    ASSERT_TRUE(fs::remove(socket()));
    listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    std::thread older([listener] {
        int peer = ::accept(listener, nullptr, nullptr);
        char greeting[34];  // read whole, so that closing sends no reset ahead of the answer
        EXPECT_EQ(::recv(peer, greeting, sizeof greeting, MSG_WAITALL), 34);
        std::string answer("\x1d\0\0\0\x01harkline warm speech engine 0", 34);
        EXPECT_EQ(::send(peer, answer.data(), answer.size(), MSG_NOSIGNAL), 34);
        ::close(peer);
    });
    expectLocalOutput(transcribe());
    older.join();
    ::close(listener);
    EXPECT_NE(log().find("本进程加载模型: the warm engine is of another version (harkline warm speech engine 0)"),
              std::string::npos);

    expectLocalOutput(transcribe({{"XDG_RUNTIME_DIR", std::nullopt}}));
    EXPECT_NE(log().find("本进程加载模型: there is no runtime folder"), std::string::npos);
    EXPECT_EQ(count(log(), "常驻语音引擎解码本次转写"), 0u);
}

}  // namespace
}  // namespace harkline
