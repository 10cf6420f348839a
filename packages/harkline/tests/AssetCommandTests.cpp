#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <regex>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli-frame/Testing/RecordingLogger.h"
#include "harkline/Assets/SpeechAssetManager.h"
#include "harkline/Commands/AssetsCancelCommand.h"
#include "harkline/Commands/AssetsDownloadCommand.h"
#include "harkline/Commands/AssetsStatusCommand.h"
#include "harkline/Commands/EnvCheckCommand.h"
#include "harkline/Commands/SupportLocalesCommand.h"
#include "harkline/Platform/Speech/Testing/InMemorySpeechModels.h"
#include "harkline/Platform/System/Testing/FixedSystemInfo.h"
#include "harkline/Runtime/CLIError.h"
#include "test-support/TemporaryHome.h"

namespace harkline {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Status = ModelStatus;

cli::CommandArguments arguments(std::vector<std::string> values) { return cli::CommandArguments(std::move(values)); }

// A command context over doubles whose standard output is a file the test reads back.
class AssetCommandTest : public testing::Test {
protected:
    void SetUp() override {
        outputPath_ = home_.path() / "stdout";
        outputFd_ = ::open(outputPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(outputFd_, 0);
    }
    void TearDown() override { ::close(outputFd_); }

    CommandContext context(InMemorySpeechModels::Script models, FixedSystemInfo::Answers system = {}) {
        models_ = std::make_shared<InMemorySpeechModels>(std::move(models));
        return CommandContext{
            cli::CLIMessageEmitter(cli::Logger(), "/logs/h.log", outputFd_),
            logger_,
            diagnostics_,
            "/logs/h.log",
            models_,
            std::make_shared<FixedSystemInfo>(std::move(system)),
        };
    }

    std::vector<cli::Json> lines() const {
        std::vector<cli::Json> result;
        std::istringstream text(testsupport::readFile(outputPath_));
        for (std::string line; std::getline(text, line);) result.push_back(cli::Json::parse(line));
        return result;
    }
    std::vector<std::string> logLines() const { return log_.lines(); }

    testsupport::TemporaryHome home_;
    fs::path outputPath_;
    int outputFd_ = -1;
    cli::RecordingLogger log_;
    cli::Logger logger_ = log_.logger();
    std::shared_ptr<DiagnosticsStore> diagnostics_ =
        std::make_shared<DiagnosticsStore>(home_.path() / "diagnostics.json", cli::Logger());
    std::shared_ptr<InMemorySpeechModels> models_;
    DownloadCancellationToken token_ = DownloadCancellationToken::inFolder(home_.path());
};

TEST_F(AssetCommandTest, ManagerWithNothingToInstallReportsTheStatusAndLeavesTheMarkerAlone) {
    context({.statuses = {{"en-US", Status::installed}}, .nothingToInstall = true});
    SpeechAssetManager manager(logger_, models_);
    token_.requestCancel();
    std::vector<double> reports;
    auto summary = manager.downloadAssets("en-US", token_, [&](double value) { reports.push_back(value); });
    EXPECT_EQ(summary, (AssetStatusSummary{"assets-ready", true}));
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(token_.isRequested());
    EXPECT_EQ(logLines(), std::vector<std::string>{"INFO AssetInventory 返回空请求，可能已安装 locale=en-US"});
    EXPECT_EQ(models_->record().installations, std::vector<std::string>{"en-US"});
}

TEST_F(AssetCommandTest, ManagerIgnoresAnOldMarkerAndEndsWithAReportOfOneAfterAllOthers) {
    context({.statuses = {{"en-GB", Status::available}}, .fractions = {0.25, 0.5}, .stepDuration = 300ms});
    SpeechAssetManager manager(logger_, models_);
    token_.requestCancel();  // left over from an earlier cancel
    std::vector<double> reports;
    auto summary = manager.downloadAssets("en-GB", token_, [&](double value) { reports.push_back(value); });
    EXPECT_EQ(summary, (AssetStatusSummary{"assets-ready", true}));
    EXPECT_FALSE(token_.isRequested());
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports.back(), 1.0);
    EXPECT_EQ(reports.front(), 0.25);
    for (std::size_t index = 0; index + 1 < reports.size(); ++index) EXPECT_LT(reports[index], 1.0);

    // A folder by the marker's name, which cannot be cleared away, cancels nothing.
    testsupport::writeFile(token_.fileURL() / "something", "");
    context({.statuses = {{"en-GB", Status::available}}, .fractions = {0.5}, .stepDuration = 300ms});
    SpeechAssetManager again(logger_, models_);
    EXPECT_EQ(again.downloadAssets("en-GB", token_, [](double) {}), (AssetStatusSummary{"assets-ready", true}));
    auto logged = logLines();
    auto expected = "ERROR 忽略不是普通文件的下载取消标记: " + token_.fileURL().string();
    EXPECT_EQ(std::count(logged.begin(), logged.end(), expected), 1);
}

TEST_F(AssetCommandTest, ManagerCancelsThroughTheMarkerAndReportsACancelEvenAfterASuccess) {
    context({.fractions = {0.5}, .stepDuration = 10s});
    SpeechAssetManager manager(logger_, models_);
    std::vector<double> reports;
    std::thread canceller([&] {
        models_->waitForInstallations(1);
        token_.requestCancel();
    });
    try {
        manager.downloadAssets("en-GB", token_, [&](double value) { reports.push_back(value); });
        ADD_FAILURE() << "no cancel";
    } catch (const CLIError& failure) {
        EXPECT_EQ(failure.errorCase(), CLIError::Case::downloadCancelled);
    }
    canceller.join();
    EXPECT_EQ(models_->record().installationsCancelled, 1);
    EXPECT_FALSE(reports.empty());
    EXPECT_EQ(std::count(reports.begin(), reports.end(), 1.0), 0);
    EXPECT_TRUE(token_.isRequested());  // the watcher leaves the marker for people to see
    EXPECT_EQ(logLines(), std::vector<std::string>{"INFO 检测到下载取消请求，准备取消 AssetInstallationRequest"});

    // Seen too late to stop the installation: still reported as cancelled, after the 1.
    context({.fractions = {0.5}, .stepDuration = 400ms, .finishesDespiteCancel = true});
    SpeechAssetManager late(logger_, models_);
    reports.clear();
    std::thread lateCanceller([&] {
        models_->waitForInstallations(1);
        token_.requestCancel();
    });
    EXPECT_THROW(late.downloadAssets("en-GB", token_, [&](double value) { reports.push_back(value); }), CLIError);
    lateCanceller.join();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), 1.0);
}

TEST_F(AssetCommandTest, ManagerPassesPlatformFailuresOnUnchanged) {
    context({.installationFailure = "store offline"});
    SpeechAssetManager manager(logger_, models_);
    int calls = 0;
    token_.requestCancel();
    try {
        manager.downloadAssets("en-GB", token_, [&](double) { ++calls; });
        ADD_FAILURE();
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "store offline");
    }
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(token_.isRequested());  // nothing was started

    context({.installFailure = "disk on fire"});
    SpeechAssetManager failing(logger_, models_);
    std::vector<double> reports;
    EXPECT_THROW(failing.downloadAssets("en-GB", token_, [&](double value) { reports.push_back(value); }),
                 std::runtime_error);
    EXPECT_EQ(std::count(reports.begin(), reports.end(), 1.0), 0);
}

TEST_F(AssetCommandTest, CancelMarkerHoldsTheUtcInstantAndItsRemovalNeverFails) {
    token_.requestCancel();
    EXPECT_TRUE(std::regex_match(testsupport::readFile(token_.fileURL()),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    token_.clear();
    EXPECT_FALSE(fs::exists(token_.fileURL()));
    token_.clear();
    // A marker that cannot be written: the same answer, and the reason in the log at ERROR.
    DownloadCancellationToken unwritable(home_.path() / "no" / "such" / "folder" / "download.cancel");
    AssetsCancelCommand(context({}), unwritable).run();
    EXPECT_FALSE(unwritable.isRequested());
    EXPECT_EQ(lines().back().at("payload").at("stage"), "download-cancelled");
    auto logged = logLines();
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_TRUE(logged[1].starts_with("ERROR 写入下载取消标记失败 " + unwritable.fileURL().string() + ": ")) << logged[1];
}

TEST_F(AssetCommandTest, AssetsStatusWritesItsLineAndDiagnosticsAndTakesTheCurrentLocaleByDefault) {
    auto installed = context({.statuses = {{"en-US", Status::installed}, {"fr-FR", Status::available}}});
    AssetsStatusCommand(installed, arguments({})).run();
    AssetsStatusCommand(installed, arguments({"--locale=fr-FR", "--preset", "TIME_INDEXED_progressive"})).run();
    auto output = lines();
    ASSERT_EQ(output.size(), 2u);
    EXPECT_EQ(output[0].dump(),
              R"({"type":"status","payload":{"stage":"assets-ready","logPath":"/logs/h.log","data":{"locale":"en-US","status":"assets-ready","installed":true}}})");
    EXPECT_EQ(output[1].dump(),
              R"({"type":"status","payload":{"stage":"assets-available","code":"apple_assets_missing","logPath":"/logs/h.log","data":{"locale":"fr-FR","status":"assets-available","installed":false}}})");
    EXPECT_EQ(diagnostics_->currentSnapshot().assets, (AssetsSnapshot{"fr-FR", "assets-available", false}));
    EXPECT_EQ(logLines(), (std::vector<std::string>{"INFO 执行 assets.status locale=en-US", "INFO 执行 assets.status locale=fr-FR"}));

    // An empty value fails even though a current locale exists; any other text is a locale.
    for (auto bad : {std::vector<std::string>{"--locale="}, {"--locale", ""}}) {
        try {
            AssetsStatusCommand(installed, arguments(bad));
            ADD_FAILURE();
        } catch (const CLIError& failure) {
            EXPECT_EQ(failure.errorCode(), "apple_assets_locale_invalid");
            EXPECT_STREQ(failure.what(), "请通过 --locale 指定有效的语言标识符。");
        }
    }
    auto strange = context({}, {.currentLocale = "sv-SE"});
    AssetsStatusCommand(strange, arguments({"--locale", "--preset"})).run();
    AssetsStatusCommand(strange, arguments({"--preset", "x"})).run();
    EXPECT_EQ(models_->record().statusQueries, (std::vector<std::string>{"--preset", "sv-SE"}));
    EXPECT_EQ(lines().back().at("payload").at("stage"), "assets-unsupported");
}

TEST_F(AssetCommandTest, AssetsDownloadReportsProgressStoresItAndClosesWithTheNewState) {
    auto nan = std::numeric_limits<double>::quiet_NaN();
    auto ready = context({.statuses = {{"en-GB", Status::available}}, .fractions = {nan, 0.5}, .stepDuration = 300ms});
    // The order of the start line and its diagnostics write, told by their log lines: a
    // store whose file cannot be written logs each write.
    cli::RecordingLogger orderLog;
    auto orderLogger = orderLog.logger();
    testsupport::writeFile(home_.path() / "blocked", "a file where a folder should be");
    ready.emitter = cli::CLIMessageEmitter(orderLogger, "/logs/h.log", outputFd_);
    diagnostics_ = std::make_shared<DiagnosticsStore>(home_.path() / "blocked" / "diagnostics.json", orderLogger);
    ready.diagnostics = diagnostics_;
    AssetsDownloadCommand(ready, arguments({"--locale", "en-GB"}), token_).run();
    auto order = orderLog.lines();
    ASSERT_GE(order.size(), 2u);
    EXPECT_EQ(order[0], "DEBUG 写入消息 type=status");
    EXPECT_TRUE(order[1].starts_with("ERROR 写入诊断信息失败: ")) << order[1];
    auto output = lines();
    ASSERT_GE(output.size(), 4u);
    EXPECT_EQ(output.front().dump(),
              R"({"type":"status","payload":{"stage":"downloading-assets","logPath":"/logs/h.log","data":{"locale":"en-GB","progress":0}}})");
    EXPECT_EQ(output.back().dump(),
              R"({"type":"status","payload":{"stage":"assets-ready","logPath":"/logs/h.log","data":{"locale":"en-GB","status":"assets-ready","installed":true}}})");
    std::vector<double> progress;
    for (std::size_t index = 0; index + 1 < output.size(); ++index) {
        EXPECT_EQ(output[index].at("payload").at("stage"), "downloading-assets");
        progress.push_back(output[index].at("payload").at("data").at("progress").get<double>());
    }
    EXPECT_EQ(progress[1], 0);  // the not-a-number report
    EXPECT_EQ(progress.back(), 1.0);
    for (double value : progress) EXPECT_TRUE(value == 0 || value == 0.5 || value == 1.0) << value;
    auto snapshot = diagnostics_->currentSnapshot();
    EXPECT_EQ(snapshot.download, std::nullopt);
    EXPECT_EQ(snapshot.assets, (AssetsSnapshot{"en-GB", "assets-ready", true}));
    EXPECT_EQ(logLines().front(), "INFO 执行 assets.download locale=en-GB");
}

TEST_F(AssetCommandTest, AssetsDownloadCancelledCarriesTheLastFractionAndFailuresBecomeErrorLines) {
    auto slow = context({.fractions = {0.3}, .stepDuration = 10s});
    std::thread canceller([&] {
        models_->waitForInstallations(1);  // past the first progress report, which carries 0.3
        AssetsCancelCommand(slow, token_).run();
    });
    AssetsDownloadCommand(slow, arguments({"--locale", "en-GB"}), token_).run();
    canceller.join();
    auto output = lines();
    ASSERT_GE(output.size(), 3u);
    // The cancel command's own line and the download's closing line, in either order.
    std::vector<std::string> last{output[output.size() - 2].dump(), output.back().dump()};
    std::sort(last.begin(), last.end());
    EXPECT_EQ(last[0], R"({"type":"status","payload":{"stage":"download-cancelled","code":"apple_download_cancelled","logPath":"/logs/h.log","data":{"locale":"en-GB","progress":0.3}}})");
    EXPECT_EQ(last[1], R"({"type":"status","payload":{"stage":"download-cancelled","code":"apple_download_cancelled","logPath":"/logs/h.log","data":{"locale":"unknown","progress":0}}})");
    EXPECT_EQ(diagnostics_->currentSnapshot().download, std::nullopt);

    auto failing = context({.installFailure = "disk on fire"});
    AssetsDownloadCommand(failing, arguments({"--locale", "en-GB"}), token_).run();
    EXPECT_EQ(lines().back().dump(),
              R"({"type":"error","payload":{"code":"apple_download_failed","message":"disk on fire","logPath":"/logs/h.log"}})");
    EXPECT_EQ(diagnostics_->currentSnapshot().download, std::nullopt);
}

// A speech gate that cannot be used is reported without refusing the environment.
TEST_F(AssetCommandTest, EnvCheckFollowsItsDecisionTableAndRecordsWhatItWrote) {
    struct Case {
        bool available;
        SpeechAuthorizationStatus authorization;
        std::string expected;
        std::optional<std::string> gateFailure;
    };
    using Authorization = SpeechAuthorizationStatus;
    for (const auto& [available, authorization, expected, gateFailure] : std::vector<Case>{
             {true, Authorization::authorized,
              R"({"stage":"env-ok","logPath":"/logs/h.log","data":{"macOSVersion":"6.1.0","speechApi":"available","authorization":"granted","speechGate":"available"}})"},
             {true, Authorization::notDetermined,
              R"({"stage":"env-ok","logPath":"/logs/h.log","data":{"macOSVersion":"6.1.0","speechApi":"available","authorization":"not_determined","speechGate":"available"}})"},
             {true, Authorization::restricted,
              R"({"stage":"env-unsupported","code":"apple_authorization_denied","logPath":"/logs/h.log","data":{"macOSVersion":"6.1.0","speechApi":"available","authorization":"restricted","reason":"authorization_denied","speechGate":"available"}})"},
             {false, Authorization::denied,
              R"({"stage":"env-unsupported","code":"apple_env_unsupported","logPath":"/logs/h.log","data":{"macOSVersion":"6.1.0","speechApi":"unavailable","authorization":"denied","reason":"speech_api_unavailable","speechGate":"available"}})"},
             {true, Authorization::authorized,
              R"({"stage":"env-ok","logPath":"/logs/h.log","data":{"macOSVersion":"6.1.0","speechApi":"available","authorization":"granted","speechGate":"unavailable","speechGateProblem":"the speech gate model /x/silero_vad.onnx is missing"}})",
              "the speech gate model /x/silero_vad.onnx is missing"},
         }) {
        InMemorySpeechModels::Script models{.gateFailure = gateFailure};
        if (!available) models.servingLocales.clear();
        EnvCheckCommand(context(models, {.authorization = authorization})).run();
        auto line = lines().back();
        EXPECT_EQ(line.at("payload").dump(), expected);
        EXPECT_EQ(cli::Json(*diagnostics_->currentSnapshot().env), line.at("payload").at("data"));
    }
    EXPECT_EQ(logLines().front(), "INFO 执行 env.check 指令");
}

TEST_F(AssetCommandTest, SupportLocalesKeepsTheStoresOrderAndMarksDownloadsAndTheDefault) {
    SupportLocalesCommand(context({.supportedLocales = {"zh-CN", "en-US", "en-US", "zh_CN", "xx-XX"},
                                   .installedLocales = {"en-US", "zh_CN"}},
                                  {.selfNames = {{"zh-CN", "中文（中国）"}, {"en-US", "English (United States)"}}}))
        .run();
    EXPECT_EQ(lines().back().at("payload").dump(),
              R"({"stage":"locales-listed","logPath":"/logs/h.log","data":{"locales":[)"
              R"j({"locale":"zh-CN","displayName":"中文（中国）","needsDownload":true,"isDefault":true},)j"
              R"j({"locale":"en-US","displayName":"English (United States)","needsDownload":false,"isDefault":false},)j"
              R"j({"locale":"en-US","displayName":"English (United States)","needsDownload":false,"isDefault":false},)j"
              R"j({"locale":"zh_CN","displayName":"zh_CN","needsDownload":false,"isDefault":false},)j"
              R"j({"locale":"xx-XX","displayName":"xx-XX","needsDownload":true,"isDefault":false}]}})j");
    EXPECT_EQ(logLines(), std::vector<std::string>{"INFO 执行 support.locales 指令"});
    EXPECT_EQ(diagnostics_->currentSnapshot(), DiagnosticsSnapshot{});

    SupportLocalesCommand(context({})).run();
    EXPECT_EQ(lines().back().at("payload").at("data").dump(), R"({"locales":[]})");
}

}  // namespace
}  // namespace harkline
