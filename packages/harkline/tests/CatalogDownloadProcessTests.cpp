#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>

#include <gtest/gtest.h>

#include "cli-frame/Json/Json.h"
#include "harkline/Platform/Speech/Download/SpeechModelCatalog.h"
#include "harkline/Platform/Speech/Linux/StoredSpeechModels.h"
#include "harkline/Platform/Speech/SpeechModelStore.h"
#include "harkline/tests/HarklineOutput.h"
#include "harkline/tests/ModelFileServer.h"
#include "harkline/tests/SpeechModelInstallation.h"
#include "test-support/ChildProcess.h"
#include "test-support/TemporaryHome.h"

// assets.download as the host runs it, fetching a model fabricated by
// scripts/speech-test-model from a loopback server, as the catalogue that script prints
// for the served folder pins it: a transducer that scores 我 just below 你 wherever 你 wins
// (a near-tie greedy search gives to 你), and a punctuation model that puts "，" after 好.
// Transfer faults are covered by ModelDownloadTests.
namespace harkline {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::ProcessResult;
using namespace testing_support;

class CatalogDownloadProcess : public testing::Test {
protected:
    void SetUp() override {
        runSpeechTestModel({"make", served().string(), "--locale", "zh-CN", "--punctuation", "ct", "--rival", "你", "我"});
        server_.emplace(served());
        testsupport::writeFile(catalog(), runSpeechTestModel({"catalog", served().string(), server_->base()}).standardOutput);
    }

    fs::path served() const { return home_.path() / "served"; }
    fs::path catalog() const { return home_.path() / "catalog.json"; }
    fs::path models() const { return applicationSupport() / "models"; }
    fs::path downloadFolder() const { return models() / ".zh-CN.download"; }
    SpeechModelStore store() const { return SpeechModelStore(models()); }
    std::uintmax_t totalBytes() const { return SpeechModelCatalog::load(catalog()).model("zh-CN")->totalBytes(); }


    testsupport::ProcessOptions harklineOptions(std::vector<std::string> arguments) const {
        auto environment = home_.environment();
        environment["TESSARYN_SPEECH_MODEL_CATALOG"] = catalog().string();
        environment["TESSARYN_SPEECH_GATE"] = "off";  // the spelled tones are no speech
        environment["TESSARYN_WARM_ENGINE"] = "off";  // no engine outliving the test in the user's runtime folder
        return {std::move(arguments), environment};
    }
    ProcessResult harkline(std::vector<std::string> arguments, const std::string& input = {}) const {
        return testsupport::runProcess(HARKLINE_BINARY, harklineOptions(std::move(arguments)), input, 60s);
    }
    std::unique_ptr<testsupport::ChildProcess> startDownload() const {
        return std::make_unique<testsupport::ChildProcess>(HARKLINE_BINARY,
                                                           harklineOptions({"assets.download", "--locale", "zh-CN"}));
    }
    // Reads progress lines until the download has at least `fraction` of the model; returns
    // the last one.
    static double awaitProgress(testsupport::ChildProcess& download, double fraction) {
        while (auto line = download.readLine(20s)) {
            double reported = payloadOf(*line).at("data").value("progress", 0.0);
            if (reported >= fraction) return reported;
        }
        ADD_FAILURE() << "the download ended or stalled";
        return 0;
    }
    cli::Json diagnosticsState() const { return payloadOf(harkline({"diagnostics.state"}).standardOutput).at("data"); }
    fs::path applicationSupport() const { return home_.dataHome() / "tessaryn" / "harkline"; }
    SpeechModelManifest installOldModel() const {
        auto old = oldModelSource(home_.path() / "old-source", "zh-CN");
        installSpeechModel(store(), old);
        return old.manifest();
    }
    std::vector<std::string> finalsOf(const std::string& text) const {
        return finalTexts(resultPayloads(harkline({"transcribe"}, runSpeechTestModel({"spell", served().string(), text}).standardOutput)));
    }

    testsupport::TemporaryHome home_;
    std::optional<ModelFileServer> server_;
};

// The server sends slowly, so that other processes meet the download while it runs.
TEST_F(CatalogDownloadProcess, CancelledAndKilledDownloadsKeepTheOldModelThenResumeFetchingOnlyTheRest) {
    auto oldManifest = installOldModel();
    auto encoderSize = fs::file_size(served() / "encoder.onnx");
    server_->control("_fault?rate=2000");  // the encoder takes about 6 s

    auto cancelled = startDownload();
    double reported = awaitProgress(*cancelled, 0.05);
    // While it runs, other processes see the download, and none takes the locale for installed.
    EXPECT_EQ(payloadOf(harkline({"assets.status", "--locale", "zh-CN"}).standardOutput).at("data").dump(),
              R"({"locale":"zh-CN","status":"assets-downloading","installed":false})");
    auto listed = payloadOf(harkline({"support.locales"}).standardOutput);
    for (const auto& entry : listed.at("data").at("locales"))
        EXPECT_TRUE(entry.at("locale") != "zh-CN" || entry.at("needsDownload").get<bool>()) << entry.dump();
    auto running = diagnosticsState();
    EXPECT_EQ(running.at("download").at("locale"), "zh-CN");
    EXPECT_EQ(running.at("download").at("status"), "downloading");

    auto cancelRequested = std::chrono::steady_clock::now();
    auto cancel = harkline({"assets.cancel"});
    EXPECT_EQ(cancel.exitStatus, 0);
    EXPECT_EQ(payloadOf(cancel.standardOutput).dump(),
              R"({"stage":"download-cancelled","code":"apple_download_cancelled","logPath":")" + harklineLogPath(home_).string() +
                  R"(","data":{"locale":"unknown","progress":0}})");
    EXPECT_NE(harklineLog(home_).find("] [INFO] 执行 assets.cancel 指令\n"), std::string::npos);
    std::optional<std::string> closing;
    while (auto line = cancelled->readLine(20s)) {
        if (payloadOf(*line).at("stage") != "downloading-assets") {
            closing = line;
            break;
        }
        reported = payloadOf(*line).at("data").at("progress").get<double>();
    }
    std::cout << "cancel to closing line: "
              << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - cancelRequested).count()
              << " ms\n";
    ASSERT_TRUE(closing);
    auto payload = payloadOf(*closing);
    EXPECT_EQ(payload.at("stage"), "download-cancelled");
    EXPECT_EQ(payload.at("code"), "apple_download_cancelled");
    EXPECT_EQ(payload.at("logPath"), harklineLogPath(home_).string());
    EXPECT_EQ(payload.at("data").at("locale"), "zh-CN");
    EXPECT_EQ(payload.at("data").at("progress").get<double>(), reported);
    EXPECT_LT(reported, 1.0);
    EXPECT_EQ(cancelled->wait(10s).exitStatus, 0);
    EXPECT_TRUE(fs::exists(applicationSupport() / "download.cancel"));
    // The download's own snapshot, read at its start, replaced the whole file at its end:
    // the section the status query wrote meanwhile is gone with it.
    EXPECT_EQ(diagnosticsState().dump(), R"({"lastLogPath":")" + harklineLogPath(home_).string() + R"("})");
    auto keptAfterCancel = fs::file_size(downloadFolder() / "encoder.onnx.part");
    EXPECT_GT(keptAfterCancel, 0u);

    auto killed = startDownload();
    awaitProgress(*killed, 0.5);
    killed->signal(SIGKILL);
    killed->wait(10s);
    auto kept = fs::file_size(downloadFolder() / "encoder.onnx.part");
    EXPECT_GT(kept, keptAfterCancel);
    EXPECT_LT(kept, encoderSize);
    // The killed process could not clear its section; its lock went with it. The old model
    // still serves, but the catalogue's is yet to be installed.
    EXPECT_EQ(store().installedModel("zh-CN")->manifest, oldManifest);
    EXPECT_EQ(diagnosticsState().at("download").at("locale"), "zh-CN");
    EXPECT_EQ(payloadOf(harkline({"assets.status", "--locale", "zh-CN"}).standardOutput).at("stage"), "assets-available");
    std::uintmax_t keptInFolder = 0;
    for (const auto& entry : fs::directory_iterator(downloadFolder()))
        if (entry.path().filename() != ".lock") keptInFolder += entry.file_size();

    // The marker left behind does not stop the next download.
    server_->control("_fault");
    server_->control("_reset");
    auto resumed = harkline({"assets.download", "--locale", "zh-CN"});
    auto lines = resumed.lines();
    ASSERT_GE(lines.size(), 3u) << resumed.standardOutput;
    // The start line's 0, then at once what was kept (or more, should the fetch be quicker
    // than the first report).
    EXPECT_EQ(payloadOf(lines[0]).at("data").at("progress").dump(), "0");
    EXPECT_GE(payloadOf(lines[1]).at("data").at("progress").get<double>(),
              static_cast<double>(keptInFolder) / static_cast<double>(totalBytes()));
    EXPECT_EQ(payloadOf(lines[lines.size() - 2]).at("data").at("progress").dump(), "1");
    EXPECT_EQ(payloadOf(lines.back()).at("stage"), "assets-ready") << resumed.standardOutput;
    EXPECT_FALSE(fs::exists(applicationSupport() / "download.cancel"));
    EXPECT_FALSE(diagnosticsState().contains("download"));
    // The rest of the encoder once, give or take the server's last pieces (100 bytes at
    // this rate) on their way to the killed process, which it counts after the reset.
    EXPECT_GE(server_->served("encoder.onnx"), encoderSize - kept);
    EXPECT_LE(server_->served("encoder.onnx"), encoderSize - kept + 200);
    EXPECT_EQ(server_->served("tokens.txt"), fs::file_size(served() / "tokens.txt"));
    EXPECT_FALSE(fs::exists(downloadFolder()));

    // Installed as the catalogue pins it: nothing to fetch again, and the engine uses it. A
    // run with nothing to install still frees what an installation killed right after its
    // swap left in staging (the old model).
    server_->control("_reset");
    testsupport::writeFile(models() / ".zh-CN.staging-a1B2c3" / "zh-CN" / "model.json", "{}");
    EXPECT_EQ(payloadOf(harkline({"assets.download", "--locale", "zh-CN"}).lines().back()).at("stage"), "assets-ready");
    EXPECT_EQ(server_->control("_served"), "{}");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(models())) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".zh-CN.lock", "zh-CN"}));
    EXPECT_EQ(finalsOf("你好世界|HELLO WORLD"), (std::vector<std::string>{"你好，世界。", "Hello, world."}));
    auto vocabulary = home_.path() / "config" / "tessaryn" / "vocabulary.txt";
    fs::create_directories(vocabulary.parent_path());
    testsupport::writeFile(vocabulary, "我好 :2.5\n");
    EXPECT_EQ(finalsOf("你好世界|HELLO WORLD"), (std::vector<std::string>{"我好，世界。", "Hello, world."}));
}

TEST_F(CatalogDownloadProcess, AWrongChecksumOrAMissingFileIsOneFailureLineAndTheInstalledModelsStayInUse) {
    ASSERT_EQ(payloadOf(harkline({"assets.download", "--locale", "zh-CN"}).lines().back()).at("stage"), "assets-ready");
    auto installed = store().installedModel("zh-CN")->manifest;

    // A newer catalogue whose encoder the server does not have.
    auto pinned = cli::Json::parse(testsupport::readFile(catalog()));
    pinned["models"][0]["files"][0]["sha256"] = std::string(64, '0');
    auto english = pinned["models"][0];
    english["locale"] = "en-US";
    pinned["models"].push_back(english);
    testsupport::writeFile(catalog(), pinned.dump());

    auto failureOf = [&](const std::string& locale) {
        auto result = harkline({"assets.download", "--locale", locale});
        EXPECT_EQ(result.exitStatus, 0);
        auto lines = result.lines();
        EXPECT_EQ(payloadOf(lines.front()).at("stage"), "downloading-assets");
        auto error = payloadOf(lines.back());
        EXPECT_EQ(error.value("code", ""), "apple_download_failed") << result.standardOutput;
        return error.value("message", "");
    };
    EXPECT_EQ(failureOf("zh-CN"), "checksum mismatch for encoder.onnx");
    server_->control("_fault?status=404");
    EXPECT_EQ(failureOf("zh-CN"), "HTTP 404 for " + server_->base() + "encoder.onnx");
    EXPECT_EQ(failureOf("en-US"), "HTTP 404 for " + server_->base() + "encoder.onnx");

    EXPECT_EQ(store().installedModel("zh-CN")->manifest, installed);
    // Both locales have a model to download, while the models in place serve.
    EXPECT_EQ(payloadOf(harkline({"assets.status", "--locale", "en-US"}).lines().back()).at("data").dump(),
              R"({"locale":"en-US","status":"assets-available","installed":false})");
    auto locales = payloadOf(harkline({"support.locales"}).lines().back()).at("data").at("locales");
    EXPECT_EQ(locales.size(), 2u);
    for (const auto& entry : locales) EXPECT_TRUE(entry.at("needsDownload").get<bool>()) << entry.dump();
    server_->control("_fault");
    EXPECT_EQ(finalsOf("你好"), std::vector<std::string>{"你好。"});
}

// In this process, a verifier in place of the trial load.
TEST_F(CatalogDownloadProcess, EveryByteInPlaceIsExactlyOneAndADamagedModelGetsOnlyItsDamagedFilesAgain) {
    std::vector<double> atVerification;
    StoredSpeechModels stored({.store = store(),
                                  .catalog = [this] { return SpeechModelCatalog::load(catalog()); },
                                  .trial = [&](const InstalledSpeechModel&, InstallationLoop& loop) {
                                      atVerification.push_back(loop.progress().fractionCompleted());
                                  }},
                                 {});
    auto request = stored.installation("zh-CN");
    ASSERT_TRUE(request);
    request->downloadAndInstall({});
    EXPECT_EQ(atVerification, std::vector<double>{1.0});
    EXPECT_EQ(stored.status("zh-CN"), ModelStatus::installed);

    auto encoder = testsupport::readFile(models() / "zh-CN" / "encoder.onnx");
    encoder[encoder.size() / 2] ^= 0x55;
    testsupport::writeFile(models() / "zh-CN" / "encoder.onnx", encoder);
    EXPECT_EQ(stored.status("zh-CN"), ModelStatus::available);
    server_->control("_reset");
    request = stored.installation("zh-CN");
    ASSERT_TRUE(request);
    // The intact files count from the first report.
    EXPECT_DOUBLE_EQ(request->progress().fractionCompleted(),
                     static_cast<double>(totalBytes() - encoder.size()) / static_cast<double>(totalBytes()));
    request->downloadAndInstall({});
    EXPECT_EQ(cli::Json::parse(server_->control("_served")).dump(), R"({"/encoder.onnx":)" + std::to_string(encoder.size()) + "}");
    EXPECT_EQ(stored.status("zh-CN"), ModelStatus::installed);
    EXPECT_FALSE(fs::exists(downloadFolder()));
}

// A catalogue that now offers a formatting model beside the recognition model in place:
// the locale stays installed and transcribes, says what is missing, and a download fetches
// only that; damaged later, it is done without, and said so.
TEST_F(CatalogDownloadProcess, AFormattingModelIsCheckedApartFromRecognitionAndFetchedAlone) {
    std::vector<std::map<std::string, std::string>> loaded;
    struct FullStop final : TextFormatter {
        std::string format(std::string text) const override { return text + "。"; }
    };
    StoredSpeechModels stored({.store = store(),
                               .catalog = [this] { return SpeechModelCatalog::load(catalog()); },
                               .trial = [](const InstalledSpeechModel&, InstallationLoop&) {},
                               .formatting = [&](const InstalledSpeechModel& part, const cli::Logger&) {
                                   loaded.push_back(part.manifest.components);
                                   return std::unique_ptr<TextFormatter>(std::make_unique<FullStop>());
                               }},
                              {});
    auto offered = testsupport::readFile(catalog());
    auto recognitionOnly = cli::Json::parse(offered);
    auto& files = recognitionOnly["models"][0]["files"];
    files.erase(std::find_if(files.begin(), files.end(), [](const cli::Json& file) { return file["name"] == "punctuation.onnx"; }));
    testsupport::writeFile(catalog(), recognitionOnly.dump());
    stored.installation("zh-CN")->downloadAndInstall({});
    auto recognitionBytes = totalBytes();
    testsupport::writeFile(catalog(), offered);
    auto punctuationBytes = fs::file_size(served() / "punctuation.onnx");

    const std::string missing = "formatting model for zh-CN is not installed; run `harkline assets.download --locale zh-CN`";
    EXPECT_EQ(stored.status("zh-CN"), ModelStatus::installed);
    EXPECT_EQ(stored.installedLocales(), std::vector<std::string>{"zh-CN"});
    EXPECT_EQ(stored.formattingModel("zh-CN").word(), "missing");
    EXPECT_EQ(stored.formattingModel("zh-CN").problem, missing);
    EXPECT_EQ(payloadOf(harkline({"assets.status", "--locale", "zh-CN"}).standardOutput).at("data").dump(),
              R"({"locale":"zh-CN","status":"assets-ready","installed":true,"formattingModel":"missing","formattingProblem":")" +
                  missing + R"("})");
    EXPECT_EQ(stored.openTextFormatter("zh-CN")->format("你好HELLO"), "你好 hello");
    EXPECT_TRUE(loaded.empty());

    server_->control("_reset");
    auto request = stored.installation("zh-CN");
    ASSERT_TRUE(request);
    EXPECT_DOUBLE_EQ(request->progress().fractionCompleted(),
                     static_cast<double>(recognitionBytes) / static_cast<double>(recognitionBytes + punctuationBytes));
    request->downloadAndInstall({});
    EXPECT_EQ(server_->control("_served"), R"({"/punctuation.onnx": )" + std::to_string(punctuationBytes) + "}");
    EXPECT_EQ(stored.formattingModel("zh-CN").word(), "installed");
    EXPECT_EQ(stored.openTextFormatter("zh-CN")->format("你好"), "你好。");
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0], (std::map<std::string, std::string>{{"punctuation", "punctuation.onnx"}}));
    EXPECT_FALSE(stored.installation("zh-CN"));

    testsupport::writeFile(models() / "zh-CN" / "punctuation.onnx", "short");
    const std::string damaged = "formatting model for zh-CN is damaged: punctuation.onnx changed size since the model was installed";
    EXPECT_EQ(stored.status("zh-CN"), ModelStatus::installed);
    EXPECT_EQ(stored.formattingModel("zh-CN").problem, damaged);
    EXPECT_EQ(stored.openTextFormatter("zh-CN")->format("HELLO"), "hello");
    EXPECT_EQ(loaded.size(), 1u);
    auto env = payloadOf(harkline({"env.check"}).standardOutput).at("data");
    EXPECT_EQ(env.at("formattingProblems").dump(), R"({"zh-CN":")" + damaged + R"("})");
    EXPECT_EQ(diagnosticsState().at("env").at("formattingProblems"), env.at("formattingProblems"));
    auto locales = payloadOf(harkline({"support.locales"}).standardOutput).at("data").at("locales");
    for (const auto& entry : locales)
        if (entry.at("locale") == "zh-CN") {
            EXPECT_EQ(entry.dump(), R"({"locale":"zh-CN","displayName":"中文（中国）","needsDownload":false,"isDefault":true,)"
                                    R"("formattingModel":"damaged"})");
        }
    EXPECT_EQ(finalsOf("你好"), std::vector<std::string>{"你好"});
}

// Links planted where the download writes: each run fails with its reason and no byte
// reaches a file outside the store; once they are gone the download installs the model.
TEST_F(CatalogDownloadProcess, APlantedLinkFailsTheDownloadAndNothingOutsideTheStoreIsWritten) {
    auto victim = home_.path() / "victim.txt";
    auto victimFolder = home_.path() / "victim-folder";
    testsupport::writeFile(victim, "the user's own words\n");
    fs::create_directories(victimFolder);
    auto failureOf = [&] {
        auto lines = harkline({"assets.download", "--locale", "zh-CN"}).lines();
        auto error = payloadOf(lines.back());
        EXPECT_EQ(error.value("code", ""), "apple_download_failed") << lines.back();
        return error.value("message", "");
    };

    for (const char* name : {"encoder.onnx.part", "tokens.txt.part", "encoder.onnx", "tokens.txt"}) {
        fs::remove_all(downloadFolder());
        fs::create_directories(downloadFolder());
        fs::create_symlink(victim, downloadFolder() / name);
        EXPECT_EQ(failureOf(),
                  (downloadFolder() / name).string() + " is a symbolic link: harkline writes only files of its own there");
        EXPECT_TRUE(fs::is_symlink(downloadFolder() / name));
    }
    fs::remove_all(downloadFolder());
    fs::create_directory_symlink(victimFolder, downloadFolder());
    EXPECT_EQ(failureOf(), downloadFolder().string() +
                               " is a symbolic link or not a folder: harkline downloads only into a folder of its own");
    EXPECT_TRUE(fs::is_empty(victimFolder));
    EXPECT_EQ(testsupport::readFile(victim), "the user's own words\n");
    EXPECT_FALSE(store().installedModel("zh-CN"));

    fs::remove(downloadFolder());
    EXPECT_EQ(payloadOf(harkline({"assets.download", "--locale", "zh-CN"}).lines().back()).at("stage"), "assets-ready");
    for (const auto& entry : fs::recursive_directory_iterator(models()))
        EXPECT_FALSE(entry.is_symlink()) << entry.path();
}

}  // namespace
}  // namespace harkline
