#include <filesystem>

#include <sys/utsname.h>

#include <gtest/gtest.h>

#include "cli-frame/Json/Json.h"
#include "harkline/Platform/Speech/SpeechModelStore.h"
#include "harkline/tests/HarklineOutput.h"
#include "harkline/tests/SpeechModelInstallation.h"
#include "test-support/ChildProcess.h"
#include "test-support/TemporaryHome.h"

namespace harkline {
namespace {

namespace fs = std::filesystem;
using testing_support::englishModelSource;
using testing_support::payloadOf;
using testsupport::ProcessResult;
using testsupport::writeFile;

// harkline as the host runs it, in a private home whose sources folder offers the
// en-US model's files under other locales. Cancelling and killing a running installation
// are in CatalogDownloadProcessTests, where the server can make one slow.
class AssetProcess : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(englishModelSource().isPresent()) << "pocketsphinx-en-us is not installed";
        offerEnglishFilesAs("en-GB");
        // Nothing to download: these tests install from local sources only.
        writeFile(home_.path() / "catalog.json", R"({"models":[]})");
    }

    void offerEnglishFilesAs(const std::string& locale) {
        cli::Json descriptor{{"locale", locale},
                             {"engine", "pocketsphinx"},
                             {"directory", englishModelSource().directory.string()},
                             {"components", englishModelSource().components}};
        writeFile(sources() / (locale + ".json"), descriptor.dump());
    }

    ProcessResult run(std::vector<std::string> arguments, std::optional<std::string> lang = "en_US.UTF-8") const {
        auto environment = testsupport::merged(
            {home_.environment(),
             {{"TESSARYN_SPEECH_MODEL_SOURCES", sources().string()}, {"TESSARYN_SPEECH_MODEL_CATALOG", (home_.path() / "catalog.json").string()},
              {"LC_ALL", std::nullopt}, {"LC_MESSAGES", std::nullopt}, {"LANG", std::move(lang)}}});
        return testsupport::runProcess(HARKLINE_BINARY, {std::move(arguments), environment});
    }
    cli::Json diagnosticsState() const { return payloadOf(run({"diagnostics.state"}).standardOutput).at("data"); }

    fs::path sources() const { return home_.path() / "sources"; }
    SpeechModelStore store() const { return SpeechModelStore::inApplicationSupport(home_.dataHome() / "tessaryn" / "harkline"); }
    testsupport::TemporaryHome home_;
};

TEST_F(AssetProcess, LocalesEnvironmentAndDiagnosticsAgreeWithTheInstalledModels) {
    offerEnglishFilesAs("zh-CN");
    auto locales = [&] { return payloadOf(run({"support.locales"}).standardOutput).at("data").at("locales").dump(); };
    // Debian's en-US model counts as installed where it lies.
    EXPECT_EQ(locales(), R"j([{"locale":"en-GB","displayName":"English (United Kingdom)","needsDownload":true,"isDefault":false},)j"
                         R"j({"locale":"en-US","displayName":"English (United States)","needsDownload":false,"isDefault":false},)j"
                         R"j({"locale":"zh-CN","displayName":"中文（中国）","needsDownload":true,"isDefault":true}])j");

    // No --locale: the user's locale from the POSIX variables.
    auto status = payloadOf(run({"assets.status"}, "en_GB.UTF-8").standardOutput);
    EXPECT_EQ(status.at("code"), "apple_assets_missing");
    EXPECT_EQ(status.at("data").dump(), R"({"locale":"en-GB","status":"assets-available","installed":false})");
    status = payloadOf(run({"assets.status"}, "C").standardOutput);
    EXPECT_FALSE(status.contains("code"));
    EXPECT_EQ(status.at("data").dump(), R"({"locale":"en-US","status":"assets-ready","installed":true})");

    // Nothing to install: the start line, then the state at once, and no copy in the store.
    auto again = run({"assets.download", "--locale=en_us", "--preset", "transcription"});
    ASSERT_EQ(again.lines().size(), 2u) << again.standardOutput;
    EXPECT_EQ(payloadOf(again.lines()[1]).at("data").dump(), R"({"locale":"en_us","status":"assets-ready","installed":true})");
    EXPECT_FALSE(fs::exists(store().localeDirectory("en-US")));

    // A download that runs to its end: the start, progress that grows to exactly 1, the finished line.
    auto lines = run({"assets.download", "--locale", "zh-CN"}).lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(payloadOf(lines.back()).at("data").dump(), R"({"locale":"zh-CN","status":"assets-ready","installed":true})");
    double previous = 0;
    for (std::size_t index = 0; index + 1 < lines.size(); ++index) {
        auto payload = payloadOf(lines[index]);
        EXPECT_EQ(payload.at("stage"), "downloading-assets");
        EXPECT_GE(payload.at("data").at("progress").get<double>(), previous);
        previous = payload.at("data").at("progress").get<double>();
    }
    EXPECT_EQ(payloadOf(lines[0]).at("data").at("progress"), 0);
    EXPECT_EQ(payloadOf(lines[lines.size() - 2]).at("data").at("progress").dump(), "1");
    EXPECT_EQ(locales(), R"j([{"locale":"en-GB","displayName":"English (United Kingdom)","needsDownload":true,"isDefault":false},)j"
                         R"j({"locale":"en-US","displayName":"English (United States)","needsDownload":false,"isDefault":false},)j"
                         R"j({"locale":"zh-CN","displayName":"中文（中国）","needsDownload":false,"isDefault":true}])j");

    // The build tree's copy of the gate model serves.
    auto envPayload = payloadOf(run({"env.check"}).standardOutput);
    EXPECT_EQ(envPayload.at("stage"), "env-ok");
    EXPECT_FALSE(envPayload.contains("code"));
    utsname names{};
    ASSERT_EQ(::uname(&names), 0);
    auto version = envPayload.at("data").at("macOSVersion").get<std::string>();
    EXPECT_TRUE(std::string(names.release).starts_with(version.substr(0, version.rfind('.')))) << version;
    EXPECT_EQ(envPayload.at("data").dump(), R"({"macOSVersion":")" + version +
                                                R"(","speechApi":"available","authorization":"granted","speechGate":"available",)"
                                                R"("vocabularyPhrases":0,"vocabularySkippedLines":0})");

    auto state = diagnosticsState();
    EXPECT_EQ(state.at("env"), envPayload.at("data"));
    EXPECT_EQ(state.at("assets").dump(), R"({"locale":"zh-CN","status":"assets-ready","installed":true})");
    EXPECT_FALSE(state.contains("download"));
}

TEST_F(AssetProcess, BadLocalesAndAnUnwritableStoreGetClearAnswersAndNoHalfModel) {
    for (auto command : {"assets.status", "assets.download"}) {
        for (auto empty : {std::vector<std::string>{command, "--locale="}, {command, "--locale", ""}}) {
            auto result = run(empty);
            EXPECT_EQ(result.exitStatus, 1);
            EXPECT_EQ(cli::Json::parse(result.standardOutput).at("type"), "error");
            EXPECT_EQ(payloadOf(result.standardOutput).at("code"), "apple_assets_locale_invalid");
        }
    }
    for (std::string odd : {std::string("../../etc"), std::string("--preset"), std::string("fr-FR"), std::string(5000, 'x')}) {
        auto status = run({"assets.status", "--locale", odd, "--preset", "no-such-preset"});
        EXPECT_EQ(status.exitStatus, 0);
        EXPECT_EQ(payloadOf(status.standardOutput).at("stage"), "assets-unsupported");
        auto download = run({"assets.download", "--locale", odd});
        EXPECT_EQ(download.exitStatus, 0);
        ASSERT_EQ(download.lines().size(), 2u);
        auto error = payloadOf(download.lines()[1]);
        EXPECT_EQ(error.at("code"), "apple_download_failed");
        EXPECT_FALSE(error.at("message").get<std::string>().empty());
    }
    EXPECT_FALSE(fs::exists(home_.dataHome() / "etc"));

    // A file where the models folder should be.
    writeFile(store().modelsDirectory(), "in the way");
    auto download = run({"assets.download", "--locale", "en-GB"});
    EXPECT_EQ(download.exitStatus, 0);
    auto error = payloadOf(download.lines().back());
    EXPECT_EQ(error.at("code"), "apple_download_failed");
    EXPECT_NE(error.at("message").get<std::string>().find("cannot create the model folder"), std::string::npos)
        << error.dump();
    EXPECT_EQ(testsupport::readFile(store().modelsDirectory()), "in the way");
    EXPECT_FALSE(diagnosticsState().contains("download"));
}

}  // namespace
}  // namespace harkline
