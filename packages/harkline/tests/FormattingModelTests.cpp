#include <filesystem>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxFormattingModel.h"
#include "harkline/tests/HarklineOutput.h"

// The formatting models of final results on the real sherpa-onnx library, fabricated by
// scripts/speech-test-model with fixed rules: the CT-Transformer puts "，" after 好 and
// "hello"; the cased model puts "," after "hello", "?" after "ready", "." at the end, and
// capitalises "world".
namespace harkline {
namespace {

namespace fs = std::filesystem;
using namespace testing_support;

// The model DIR's descriptor describes, as installed there.
InstalledSpeechModel madeModel(const fs::path& directory, const std::string& punctuation) {
    runSpeechTestModel({"make", directory.string(), "--punctuation", punctuation});
    auto descriptor = cli::Json::parse(testsupport::readFile(directory / "zh-CN.json"));
    return {{"zh-CN", descriptor.at("engine").get<std::string>(),
             descriptor.at("components").get<std::map<std::string, std::string>>(), {}},
            directory};
}

TEST(FormattingModel, EachKindPunctuatesAndCasesTheFinalAsItsModelSays) {
    testsupport::TemporaryHome home;
    const std::pair<const char*, std::vector<std::pair<std::string, std::string>>> kinds[] = {
        {"ct",
         {{"你好世界", "你好，世界。"},
          {"HELLO WORLD", "Hello, world."},  // an English sentence takes ASCII marks and a capital
          {"我们说话THE VOICE INPUT IS READY", "我们说话 the voice input is ready。"},
          {"GO FORWARD I SAID", "Go forward I said."},
          {"  ", "  "}}},
        {"cased",
         {{"HELLO WORLD", "Hello, World."},
          {"i think the voice input is ready", "I think the voice input is ready?"},
          {"GO FORWARD TEN METERS HELLO", "Go forward ten meters hello."}}},
    };
    for (const auto& [kind, texts] : kinds) {
        auto model = SherpaOnnxFormattingModel::inspect(madeModel(home.path() / kind, kind));
        ASSERT_TRUE(model) << kind;
        auto formatter = model->load(cli::Logger());
        for (const auto& [spoken, typed] : texts) EXPECT_EQ(formatter->format(spoken), typed) << kind;
    }

    auto plain = madeModel(home.path() / "ct", "ct");
    plain.manifest.components.erase(punctuationRole);
    EXPECT_FALSE(SherpaOnnxFormattingModel::inspect(plain));
}

// Each damage is caught before the engine sees the file (it would end the process).
TEST(FormattingModel, DamagedModelsAreRefusedWithTheirReason) {
    testsupport::TemporaryHome home;
    struct Fault {
        const char* kind;
        std::function<void(InstalledSpeechModel&)> damage;
        const char* reason;
    };
    auto breakWith = [](const char* fault) {
        return [fault](InstalledSpeechModel& model) { runSpeechTestModel({"break", model.directory.string(), fault}); };
    };
    const Fault faults[] = {
        {"ct", breakWith("punctuation-no-metadata"), "punctuation.onnx lacks the metadata \"punctuations\""},
        {"ct", breakWith("punctuation-truncated"), "punctuation.onnx is not an ONNX model"},
        {"cased", breakWith("punctuation-no-metadata"), "punctuationAndCase.onnx lacks the metadata \"CAP\""},
        {"cased", [](InstalledSpeechModel& model) { fs::remove(model.directory / "punctuationVocab.vocab"); },
         "the \"punctuationVocab\" file punctuationVocab.vocab is missing"},
        {"cased", [](InstalledSpeechModel& model) { std::ofstream(model.directory / "punctuationVocab.vocab", std::ios::app) << "\n"; },
         "punctuationVocab.vocab line 45 is not \"piece score\""},
        {"cased", [](InstalledSpeechModel& model) { model.manifest.components["punctuation"] = "encoder.onnx"; },
         "the model names two formatting models"},
        {"ct", [](InstalledSpeechModel& model) { model.manifest.components["punctuation"] = "encoder.onnx"; },
         "encoder.onnx lacks the metadata \"tokens\""},
    };
    for (const auto& [kind, damage, reason] : faults) {
        auto model = madeModel(home.path() / kind, kind);
        damage(model);
        try {
            SherpaOnnxFormattingModel::inspect(model);
            ADD_FAILURE() << reason;
        } catch (const std::runtime_error& refusal) {
            EXPECT_NE(std::string(refusal.what()).find(reason), std::string::npos) << refusal.what();
        }
    }
}

// The installation's trial loads the formatting model too: a damaged one is refused with
// its reason, the recognition model is not installed without it, and harkline lives on.
TEST(FormattingModel, InstallationRefusesADamagedFormattingModelAndKeepsServing) {
    testsupport::TemporaryHome home;
    auto source = home.path() / "source";
    auto environment = home.environment();
    environment["TESSARYN_SPEECH_MODEL_SOURCES"] = source.string();
    auto download = [&] {
        return testsupport::runProcess(HARKLINE_BINARY, {{"assets.download", "--locale", "zh-CN"}, environment}, "",
                                       std::chrono::seconds(60));
    };
    madeModel(source, "ct");
    runSpeechTestModel({"break", source.string(), "punctuation-no-metadata"});
    auto refused = download();
    EXPECT_EQ(refused.exitStatus, 0);
    EXPECT_EQ(lastPayload(refused).value("code", ""), "apple_download_failed");
    EXPECT_NE(lastPayload(refused).value("message", "").find(
                  "the formatting model for zh-CN does not load: punctuation.onnx lacks the metadata \"punctuations\""),
              std::string::npos)
        << refused.standardOutput;
    EXPECT_FALSE(fs::exists(home.dataHome() / "tessaryn" / "harkline" / "models" / "zh-CN" / "model.json"));

    madeModel(source, "ct");
    EXPECT_EQ(lastPayload(download()).value("stage", ""), "assets-ready");
}

}  // namespace
}  // namespace harkline
