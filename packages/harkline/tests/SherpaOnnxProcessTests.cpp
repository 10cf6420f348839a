#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <thread>
#include <tuple>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli-frame/Json/Json.h"
#include "harkline/Platform/Speech/SpeechModelStore.h"
#include "harkline/tests/HarklineOutput.h"
#include "test-support/ChildProcess.h"
#include "test-support/TemporaryHome.h"

// harkline on the sherpa-onnx engine, as the host runs it, with a streaming transducer
// that scripts/speech-test-model fabricates and audio it spells: the real library does the
// features, the network runs, the search and the endpoints.
namespace harkline {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace testing_support;
using testsupport::Environment;
using testsupport::ProcessResult;

class SherpaOnnxProcess : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(runtime());
        fs::permissions(runtime(), fs::perms::owner_all);
        runSpeechTestModel({"make", modelSource().string(), "--locale", "zh-CN"});
    }

    fs::path modelSource() const { return home_.path() / "zh-model"; }
    // Dictations decode on a warm engine of this home's own, which ends with the folder.
    fs::path runtime() const { return home_.path() / "run"; }
    fs::path installed() const { return home_.dataHome() / "tessaryn" / "harkline" / "models" / "zh-CN"; }
    std::string log() const { return harklineLog(home_); }

    // The spelled tones are no speech, and the speech gate rightly keeps them from the
    // engine. Sanitizer reports land in the home folder.
    Environment environment(const Environment& extra = {}) const {
        auto variables = home_.environment();
        variables["TESSARYN_SPEECH_GATE"] = "off";
        variables["TESSARYN_SPEECH_MODEL_SOURCES"] = modelSource().string();
        variables["XDG_RUNTIME_DIR"] = runtime().string();
        for (const char* name : {"ASAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
            const char* options = std::getenv(name);
            variables[name] = std::string(options ? options : "") + ":log_path=" + (home_.path() / "sanitizer").string();
        }
        return testsupport::merged({variables, extra});
    }
    ProcessResult harkline(std::vector<std::string> arguments, const std::string& input = {}, const Environment& extra = {}) const {
        auto result = testsupport::runProcess(HARKLINE_BINARY, {std::move(arguments), environment(extra)}, input, 60s);
        EXPECT_FALSE(result.timedOut);
        return result;
    }
    void install() const { ASSERT_EQ(lastPayload(harkline({"assets.download", "--locale", "zh-CN"})).at("stage"), "assets-ready"); }
    std::string spell(const std::string& text) const { return runSpeechTestModel({"spell", modelSource().string(), text}).standardOutput; }
    std::vector<cli::Json> transcribe(const std::string& audio) const {
        return transcriptionResults(harkline({"transcribe"}, audio), static_cast<std::int64_t>(audio.size()));
    }

    testsupport::TemporaryHome home_;
};

// Partials come as the engine writes them, finals as a person types them.
TEST_F(SherpaOnnxProcess, SpelledTextComesBackWithGrowingPartialsAndOneFormattedFinalPerPause) {
    install();
    const std::vector<std::string> spoken{"你好世界", "HELLO WORLD", "谢谢你们 THE VOICE INPUT IS READY"};
    const std::vector<std::string> typed{"你好世界", "hello world", "谢谢你们 the voice input is ready"};
    auto audio = spell(spoken[0] + "|" + spoken[1] + "|" + spoken[2]);
    // Written in pieces of uneven sizes, so that the reads are uneven too.
    testsupport::ChildProcess child(HARKLINE_BINARY, {{"transcribe"}, environment()});
    const std::size_t sizes[] = {1, 4095, 3, 10000, 2048, 777};
    for (std::size_t offset = 0, index = 0; offset < audio.size(); offset += sizes[index++ % std::size(sizes)]) {
        EXPECT_TRUE(child.write(audio.substr(offset, sizes[index % std::size(sizes)])));
        std::this_thread::sleep_for(1ms);
    }
    child.closeInput();
    auto payloads = transcriptionResults(child.wait(60s), static_cast<std::int64_t>(audio.size()));

    std::vector<std::string> finals;
    std::string partial;
    for (const auto& payload : payloads) {
        auto text = payload.at("text").get<std::string>();
        ASSERT_LT(finals.size(), spoken.size()) << text;
        if (payload.at("isFinal").get<bool>()) {
            finals.push_back(text);
            partial.clear();
        } else {
            EXPECT_TRUE(spoken[finals.size()].starts_with(text)) << text;
            EXPECT_GT(text.size(), partial.size()) << text;
            partial = text;
        }
    }
    EXPECT_EQ(finals, typed);
    EXPECT_GT(payloads.size(), 2 * spoken.size());
    auto written = log();
    EXPECT_EQ(written.find("回退"), std::string::npos);
    EXPECT_NE(written.find("locale=zh-CN"), std::string::npos);
}

// The fabricated model scores 我 just below 你 wherever 你 wins: a near-tie that greedy
// search gives to 你, and a phrase of the user's vocabulary to 我.
TEST_F(SherpaOnnxProcess, AVocabularyPhraseTurnsANearTieAndWhatCannotBeUsedIsSkippedWithItsReason) {
    runSpeechTestModel({"make", modelSource().string(), "--locale", "zh-CN", "--rival", "你", "我"});
    install();
    auto audio = spell("你们");
    auto finals = [&] { return finalTexts(transcribe(audio)); };
    EXPECT_EQ(finals(), std::vector<std::string>{"你们"});

    auto vocabulary = home_.path() / "config" / "tessaryn" / "vocabulary.txt";
    fs::create_directories(vocabulary.parent_path());
    testsupport::writeFile(vocabulary, "你好 :x\n我们 :2.5\r\nmeet/greet\n:3 世界\n\n  \nTessaryn\n");
    EXPECT_EQ(finals(), std::vector<std::string>{"我们"});
    // Silence gives nothing, under the beam search hotwords bring too; no result carries a
    // count, so the closing line reports none.
    EXPECT_TRUE(transcriptionResults(harkline({"transcribe"}, std::string(3 * 32000, '\0')), 0).empty());
    auto environment = lastPayload(harkline({"env.check"})).at("data");
    EXPECT_EQ(environment.at("vocabularyPhrases"), 2) << environment.dump();  // 我们 and Tessaryn
    EXPECT_EQ(environment.at("vocabularySkippedLines"), 3);
    EXPECT_EQ(lastPayload(harkline({"diagnostics.state"})).at("data").at("env"), environment);
    auto written = log();
    for (const char* skipped : {"个人词表第 1 行已跳过（权重不是正数）: 你好 :x", "个人词表第 3 行已跳过（含有 \"/\"）: meet/greet",
                                "个人词表第 4 行已跳过（权重只能写在行尾）: :3 世界",
                                "个人词表短语已跳过（模型的词元拼不出它）: Tessaryn"})
        EXPECT_NE(written.find(skipped), std::string::npos) << skipped;

    // Something that is no file a person wrote, in its place: the dictation goes on without it.
    fs::remove(vocabulary);
    fs::create_symlink("/dev/zero", vocabulary);
    EXPECT_EQ(finals(), std::vector<std::string>{"你们"});
    EXPECT_NE(log().find("个人词表不可用，本次转写不用它: " + vocabulary.string() + " is not a regular file"), std::string::npos);
    auto unreadable = lastPayload(harkline({"env.check"})).at("data");
    EXPECT_EQ(unreadable.at("vocabularyPhrases"), 0);
    EXPECT_EQ(unreadable.at("vocabularySkippedLines"), 0);
    EXPECT_NE(log().find("个人词表 " + vocabulary.string() + " 用于 sherpa-onnx 转导模型（热词）；pocketsphinx 与 CTC 模型不使用它"),
              std::string::npos);
}

TEST_F(SherpaOnnxProcess, BrokenModelsAreRefusedAtInstallationWithTheirReason) {
    const std::tuple<const char*, const char*, bool> faults[] = {
        {"no-metadata", "encoder.onnx lacks the metadata \"decode_chunk_len\"", false},
        {"no-blank", "tokens.txt names no blank token (<blk>)", false},
        {"short-tokens", "tokens.txt lacks token id 31 of the model's 32", false},
        {"short-tokens", "tokens.txt lacks token id 31 of the model's 32", true},  // a streaming CTC model
        {"truncated", "encoder.onnx is not an ONNX model (damaged or cut short)", false},
        {"bad-graph", "does not load: the engine ", false},  // onnxruntime refuses the graph (or aborts on it)
    };
    for (const auto& [fault, reason, ctc] : faults) {
        fs::remove_all(modelSource());
        std::vector<std::string> make{"make", modelSource().string(), "--locale", "zh-CN"};
        if (ctc) make.push_back("--ctc");
        runSpeechTestModel(make);
        runSpeechTestModel({"break", modelSource().string(), fault});
        auto download = harkline({"assets.download", "--locale", "zh-CN"});
        EXPECT_EQ(download.exitStatus, 0) << fault;
        auto error = lastPayload(download);
        EXPECT_EQ(error.value("code", ""), "apple_download_failed") << fault;
        EXPECT_NE(error.value("message", "").find(reason), std::string::npos) << error.dump();
        EXPECT_FALSE(fs::exists(installed())) << fault;
    }
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(installed().parent_path())) left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{".zh-CN.lock"});

    // The last broken model (a graph onnxruntime refuses) placed in the store by hand: the
    // run fails with the reason, the process serving the host does not die.
    cli::Json manifest{{"locale", "zh-CN"}, {"engine", "sherpa-onnx-transducer"}, {"files", cli::Json::array()},
                       {"components", {{"encoder", "encoder.onnx"}, {"decoder", "decoder.onnx"},
                                       {"joiner", "joiner.onnx"}, {"tokens", "tokens.txt"}}}};
    for (const auto& [role, file] : manifest["components"].items()) {
        fs::create_directories(installed());
        fs::copy_file(modelSource() / file.get<std::string>(), installed() / file.get<std::string>());
        manifest["files"].push_back({{"path", file}, {"size", fs::file_size(installed() / file.get<std::string>())}});
    }
    testsupport::writeFile(installed() / "model.json", manifest.dump());
    auto run = harkline({"transcribe"}, spell("你好"));
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(lastPayload(run).value("code", ""), "apple_transcribe_failed");
    EXPECT_NE(lastPayload(run).value("message", "").find("does not load: the engine "), std::string::npos) << run.standardOutput;
}

TEST_F(SherpaOnnxProcess, ATouchedModelServesOnAndOneChangedSinceItsInstallationFailsTheRunWithTheReason) {
    install();
    auto audio = spell("你好");
    auto expectTranscribed = [&] {
        auto payloads = transcribe(audio);
        ASSERT_FALSE(payloads.empty());
        EXPECT_EQ(payloads.back().at("text"), "你好");
    };

    // New times alone (a backup restored, a copy to another disk): the content is checked
    // once and the new times are recorded.
    auto dayAgo = fs::file_time_type::clock::now() - std::chrono::hours(24);
    for (const auto& entry : fs::directory_iterator(installed()))
        if (entry.path().filename() != "model.json") fs::last_write_time(entry.path(), dayAgo);
    EXPECT_EQ(lastPayload(harkline({"assets.status", "--locale", "zh-CN"})).at("stage"), "assets-ready");
    auto manifest = cli::Json::parse(testsupport::readFile(installed() / "model.json"));
    for (const auto& file : manifest.at("files"))
        EXPECT_EQ(file.at("modified").get<std::int64_t>(), modificationTimeOf(installed() / file.at("path").get<std::string>()))
            << file.dump();
    expectTranscribed();

    auto expectFailure = [&](const std::string& message) {
        auto run = harkline({"transcribe"}, audio);
        EXPECT_EQ(run.exitStatus, 1);
        for (const auto& line : run.lines()) EXPECT_NO_THROW(cli::Json::parse(line)) << line;
        auto error = lastPayload(run);
        EXPECT_EQ(error.value("code", ""), "apple_transcribe_failed");
        EXPECT_EQ(error.value("message", ""), message);
    };

    std::ofstream(installed() / "tokens.txt", std::ios::app) << "extra 32\n";
    expectFailure("speech model for zh-CN is damaged: tokens.txt changed size since the model was installed");
    EXPECT_EQ(lastPayload(harkline({"assets.status", "--locale", "zh-CN"})).at("stage"), "assets-available");

    // Same size, new bytes: what a failing disk or an editor leaves.
    install();
    auto encoder = testsupport::readFile(installed() / "encoder.onnx");
    encoder[encoder.size() / 2] ^= 0x55;
    testsupport::writeFile(installed() / "encoder.onnx", encoder);
    expectFailure("speech model for zh-CN is damaged: encoder.onnx was modified since the model was installed");

    install();
    expectTranscribed();
}

// Dictations on the warm engine: each run is compared byte for byte with the same run
// decoding in its own process.
class WarmEngineProcess : public SherpaOnnxProcess {
protected:
    void SetUp() override {
        SherpaOnnxProcess::SetUp();
        install();
        testsupport::writeFile(audio(), spell("你好世界|HELLO"));
        local_ = dictate({{"TESSARYN_WARM_ENGINE", "off"}});
    }
    void TearDown() override {
        if (auto state = engineState()) ::kill(state->at("pid").get<pid_t>(), SIGKILL);
        fs::remove_all(runtime());
        for (const auto& entry : fs::directory_iterator(home_.path()))
            EXPECT_FALSE(entry.path().filename().string().starts_with("sanitizer")) << testsupport::readFile(entry.path());
    }

    fs::path socket() const { return runtime() / "harkline-warm-engine.socket"; }
    fs::path audio() const { return home_.path() / "audio.raw"; }

    // Audio from a file, so that every read is whole and the output the same each time.
    testsupport::ProcessOptions dictationOptions(const Environment& extra, int input) const {
        return {{"transcribe"}, environment(extra), {input, testsupport::pipeToTest, testsupport::pipeToTest}};
    }
    ProcessResult dictate(const Environment& extra = {}) const {
        int input = ::open(audio().c_str(), O_RDONLY | O_CLOEXEC);
        auto result = testsupport::runProcess(HARKLINE_BINARY, dictationOptions(extra, input), "", 60s);
        ::close(input);
        return result;
    }
    std::optional<cli::Json> engineState() const {
        auto data = lastPayload(harkline({"diagnostics.state"})).at("data");
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

    ProcessResult local_;
};

TEST_F(WarmEngineProcess, DictationsInARowAndAtOnceShareOneLoadAndWriteWhatALocalRunWrites) {
    ASSERT_EQ(local_.exitStatus, 0);
    ASSERT_NE(local_.standardOutput.find("\"text\":\"你好世界\",\"isFinal\":true"), std::string::npos) << local_.standardOutput;
    EXPECT_FALSE(engineState());

    expectLocalOutput(dictate());
    expectLocalOutput(dictate());
    {
        int first = ::open(audio().c_str(), O_RDONLY | O_CLOEXEC), second = ::open(audio().c_str(), O_RDONLY | O_CLOEXEC);
        testsupport::ChildProcess one(HARKLINE_BINARY, dictationOptions({}, first));
        testsupport::ChildProcess two(HARKLINE_BINARY, dictationOptions({}, second));
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
    EXPECT_EQ(occurrences(written, "常驻语音引擎解码本次转写，模型为此加载"), 1u) << written;
    EXPECT_EQ(occurrences(written, "常驻语音引擎解码本次转写，模型已在内存中"), 3u);

    // Installed anew in the same folder: the next dictation loads the new model, the old one goes.
    runSpeechTestModel({"make", modelSource().string(), "--locale", "zh-CN", "--ctc"});
    install();
    auto warm = dictate().standardOutput;
    EXPECT_EQ(withoutResultCounts(warm), withoutResultCounts(dictate({{"TESSARYN_WARM_ENGINE", "off"}}).standardOutput));
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
    expectLocalOutput(dictate({{"TESSARYN_WARM_ENGINE_IDLE_SECONDS", "1"}}));
    EXPECT_EQ(occurrences(log(), "常驻语音引擎解码本次转写，模型为此加载"), 2u) << log();
    for (int attempt = 0; attempt < 600 && fs::exists(socket()); ++attempt) std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(fs::exists(socket())) << log();
    EXPECT_FALSE(engineState());
}

TEST_F(WarmEngineProcess, WithoutAnEngineOfItsOwnARunDecodesItselfAndSaysWhy) {
    auto listen = [this] {
        int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket().c_str());
        EXPECT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(listener, 4), 0);
        return listener;
    };
    // A socket of another user in the runtime folder: refused, and left alone.
    int listener = listen();
    ASSERT_EQ(::chown(socket().c_str(), 65534, 65534), 0);
    expectLocalOutput(dictate());
    EXPECT_NE(log().find("常驻语音引擎不可用，本进程加载模型: " + socket().string() + " belongs to another user"),
              std::string::npos) << log();
    EXPECT_FALSE(engineState());
    ::close(listener);

    // An engine of another version, which greets differently.
    ASSERT_TRUE(fs::remove(socket()));
    listener = listen();
    std::thread older([listener] {
        int peer = ::accept(listener, nullptr, nullptr);
        char greeting[34];  // read whole, so that closing sends no reset ahead of the answer
        EXPECT_EQ(::recv(peer, greeting, sizeof greeting, MSG_WAITALL), 34);
        std::string answer("\x1d\0\0\0\x01harkline warm speech engine 0", 34);
        EXPECT_EQ(::send(peer, answer.data(), answer.size(), MSG_NOSIGNAL), 34);
        ::close(peer);
    });
    expectLocalOutput(dictate());
    older.join();
    ::close(listener);
    EXPECT_NE(log().find("本进程加载模型: the warm engine is of another version (harkline warm speech engine 0)"),
              std::string::npos);

    expectLocalOutput(dictate({{"XDG_RUNTIME_DIR", std::nullopt}}));
    EXPECT_NE(log().find("本进程加载模型: there is no runtime folder"), std::string::npos);
    EXPECT_EQ(occurrences(log(), "常驻语音引擎解码本次转写"), 0u);
}

}  // namespace
}  // namespace harkline
