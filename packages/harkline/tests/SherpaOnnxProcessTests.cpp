#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <thread>

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
using testsupport::ProcessResult;
using namespace testing_support;

class SherpaOnnxProcess : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(runtime());
        runSpeechTestModel({"make", modelSource().string(), "--locale", "zh-CN"});
    }

    fs::path modelSource() const { return home_.path() / "zh-model"; }
    // Dictations decode on a warm engine of this home's own, which ends with the folder.
    fs::path runtime() const { return home_.path() / "run"; }
    fs::path installed() const { return home_.dataHome() / "tessaryn" / "harkline" / "models" / "zh-CN"; }
    std::string log() const { return harklineLog(home_); }

    // The spelled tones are no speech, and the speech gate rightly keeps them from the engine.
    std::map<std::string, std::optional<std::string>> ungated() const {
        auto environment = home_.environment();
        environment["TESSARYN_SPEECH_GATE"] = "off";
        environment["XDG_RUNTIME_DIR"] = runtime().string();
        return environment;
    }
    std::string spell(const std::string& text) const { return runSpeechTestModel({"spell", modelSource().string(), text}).standardOutput; }

    ProcessResult harkline(std::vector<std::string> arguments, const std::string& input = {}) const {
        auto environment = ungated();
        environment["TESSARYN_SPEECH_MODEL_SOURCES"] = modelSource().string();
        return testsupport::runProcess(HARKLINE_BINARY, {std::move(arguments), environment}, input, 60s);
    }
    void install() const { ASSERT_EQ(lastPayload(harkline({"assets.download", "--locale", "zh-CN"})).at("stage"), "assets-ready"); }

    // Writes the audio in pieces of uneven sizes, so that the reads are uneven too.
    ProcessResult transcribeInPieces(const std::string& audio) const {
        auto environment = ungated();
        testsupport::ChildProcess child(HARKLINE_BINARY, {{"transcribe"}, environment});
        const std::size_t sizes[] = {1, 4095, 3, 10000, 2048, 777};
        for (std::size_t offset = 0, index = 0; offset < audio.size(); ++index) {
            auto size = std::min(sizes[index % std::size(sizes)], audio.size() - offset);
            EXPECT_TRUE(child.write(audio.substr(offset, size)));
            offset += size;
            std::this_thread::sleep_for(1ms);
        }
        child.closeInput();
        return child.wait(60s);
    }

    // Each line is JSON; returns the results' payloads after checking the closing line.
    static std::vector<cli::Json> results(const ProcessResult& result, std::int64_t bytes) {
        EXPECT_EQ(result.exitStatus, 0) << result.standardOutput;
        auto closing = lastPayload(result);
        EXPECT_EQ(closing.value("stage", ""), "input-stream-closed");
        EXPECT_EQ(closing.value("bytesProcessed", std::int64_t{-1}), bytes);
        return resultPayloads(result);
    }

    testsupport::TemporaryHome home_;
};

// Partials come as the engine writes them, finals as a person types them.
TEST_F(SherpaOnnxProcess, SpelledTextComesBackWithGrowingPartialsAndOneFormattedFinalPerPause) {
    // Before the model is installed, the default locale falls back to Debian's en-US.
    auto before = harkline({"transcribe"}, spell("你好"));
    EXPECT_EQ(before.exitStatus, 0);
    EXPECT_NE(log().find("Locale 匹配失败，回退到 en-US"), std::string::npos);
    EXPECT_EQ(lastPayload(harkline({"assets.status", "--locale", "zh-CN"})).at("stage"), "assets-available");

    install();
    fs::remove(home_.stateHome() / "tessaryn" / "harkline.log");
    const std::vector<std::string> spoken{"你好世界", "HELLO WORLD", "谢谢你们 THE VOICE INPUT IS READY"};
    const std::vector<std::string> typed{"你好世界", "hello world", "谢谢你们 the voice input is ready"};
    auto audio = spell(spoken[0] + "|" + spoken[1] + "|" + spoken[2]);
    auto payloads = results(transcribeInPieces(audio), static_cast<std::int64_t>(audio.size()));

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
        EXPECT_LE(payload.at("bytesProcessed").get<std::int64_t>(), static_cast<std::int64_t>(audio.size()));
    }
    EXPECT_EQ(finals, typed);
    EXPECT_GT(payloads.size(), 2 * spoken.size());
    auto written = log();
    EXPECT_EQ(written.find("回退"), std::string::npos);
    EXPECT_NE(written.find("locale=zh-CN"), std::string::npos);
}

// This model brings hotwords, so the engine runs modified beam search instead of greedy.
TEST_F(SherpaOnnxProcess, SilenceGivesNothingAndAnOddByteCountIsHandedOnWhole) {
    testsupport::writeFile(modelSource() / "hotwords.txt", "你好\n");
    auto descriptor = cli::Json::parse(testsupport::readFile(modelSource() / "zh-CN.json"));
    descriptor["components"]["hotwords"] = "hotwords.txt";
    testsupport::writeFile(modelSource() / "zh-CN.json", descriptor.dump());
    install();
    // No result carries a count, so the closing line reports none.
    std::string silence(3 * 32000, '\0');
    EXPECT_TRUE(results(harkline({"transcribe"}, silence), 0).empty());

    auto odd = spell("你好 GO") + "\x01";
    auto payloads = results(harkline({"transcribe"}, odd), static_cast<std::int64_t>(odd.size()) + 1);
    ASSERT_FALSE(payloads.empty());
    EXPECT_EQ(payloads.back().at("text"), "你好 go");
    EXPECT_TRUE(payloads.back().at("isFinal").get<bool>());
}

// The fabricated model scores 我 just below 你 wherever 你 wins: a near-tie that greedy
// search gives to 你, and a phrase of the user's vocabulary to 我.
TEST_F(SherpaOnnxProcess, AVocabularyPhraseTurnsANearTieAndWhatCannotBeUsedIsSkippedWithItsReason) {
    runSpeechTestModel({"make", modelSource().string(), "--locale", "zh-CN", "--rival", "你", "我"});
    install();
    auto audio = spell("你们");
    auto finals = [&] { return finalTexts(results(harkline({"transcribe"}, audio), static_cast<std::int64_t>(audio.size()))); };
    EXPECT_EQ(finals(), std::vector<std::string>{"你们"});

    auto vocabulary = home_.path() / "config" / "tessaryn" / "vocabulary.txt";
    fs::create_directories(vocabulary.parent_path());
    testsupport::writeFile(vocabulary, "你好 :x\n我们 :2.5\r\nmeet/greet\n:3 世界\n\n  \nTessaryn\n");
    EXPECT_EQ(finals(), std::vector<std::string>{"我们"});
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
    const std::pair<const char*, const char*> faults[] = {
        {"no-metadata", "encoder.onnx lacks the metadata \"decode_chunk_len\""},
        {"no-blank", "tokens.txt names no blank token (<blk>)"},
        {"short-tokens", "tokens.txt lacks token id 31 of the model's 32"},
        {"truncated", "encoder.onnx is not an ONNX model (damaged or cut short)"},
        {"bad-graph", "does not load: the engine "},  // onnxruntime refuses the graph (or aborts on it)
    };
    for (const auto& [fault, reason] : faults) {
        runSpeechTestModel({"make", modelSource().string(), "--locale", "zh-CN"});
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

TEST_F(SherpaOnnxProcess, AStreamingCtcModelServesTooAndItsVocabularyIsChecked) {
    fs::remove_all(modelSource());
    runSpeechTestModel({"make", modelSource().string(), "--locale", "zh-CN", "--ctc"});
    runSpeechTestModel({"break", modelSource().string(), "short-tokens"});
    auto refused = lastPayload(harkline({"assets.download", "--locale", "zh-CN"}));
    EXPECT_NE(refused.value("message", "").find("tokens.txt lacks token id 31 of the model's 32"), std::string::npos)
        << refused.dump();

    runSpeechTestModel({"make", modelSource().string(), "--locale", "zh-CN", "--ctc"});
    install();
    auto audio = spell("你好世界|HELLO WORLD");
    EXPECT_EQ(finalTexts(results(harkline({"transcribe"}, audio), static_cast<std::int64_t>(audio.size()))),
              (std::vector<std::string>{"你好世界", "hello world"}));
}

TEST_F(SherpaOnnxProcess, ATouchedModelServesOnAndOneChangedSinceItsInstallationFailsTheRunWithTheReason) {
    install();
    auto audio = spell("你好");
    auto expectTranscribed = [&] {
        auto payloads = results(harkline({"transcribe"}, audio), static_cast<std::int64_t>(audio.size()));
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

}  // namespace
}  // namespace harkline
