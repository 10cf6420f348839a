#include <chrono>
#include <csignal>
#include <filesystem>

#include <gtest/gtest.h>

#include "cli-frame/Json/Json.h"
#include "harkline/Platform/Speech/Download/SpeechModelCatalog.h"
#include "harkline/Platform/Speech/Linux/LinuxSpeechAssetInventory.h"
#include "harkline/Platform/Speech/SpeechModelStore.h"
#include "test-support/ChildProcess.h"
#include "test-support/TemporaryHome.h"

// assets.download as the host runs it, fetching a model fabricated by
// scripts/speech-test-model from a loopback server, as the catalogue that script prints
// for the served folder pins it. Transfer faults are covered by ModelDownloadTests.
namespace harkline {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::ProcessResult;

class CatalogDownloadProcess : public testing::Test {
protected:
    void SetUp() override {
        script({"make", served().string(), "--locale", "zh-CN"});
        server_ = std::make_unique<testsupport::ChildProcess>(
            "/usr/bin/python3", testsupport::ProcessOptions{{MODEL_FILE_SERVER, served().string()}});
        auto port = server_->readLine(10s);
        ASSERT_TRUE(port) << "the test server did not start";
        base_ = "http://127.0.0.1:" + *port + "/";
        testsupport::writeFile(catalog(), script({"catalog", served().string(), base_}).standardOutput);
    }

    fs::path served() const { return home_.path() / "served"; }
    fs::path catalog() const { return home_.path() / "catalog.json"; }
    fs::path models() const { return home_.dataHome() / "tessaryn" / "harkline" / "models"; }
    fs::path downloadFolder() const { return models() / ".zh-CN.download"; }
    SpeechModelStore store() const { return SpeechModelStore(models()); }
    std::uintmax_t totalBytes() const { return SpeechModelCatalog::load(catalog()).model("zh-CN")->totalBytes(); }

    static ProcessResult script(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), SPEECH_TEST_MODEL_SCRIPT);
        auto result = testsupport::runProcess("/usr/bin/python3", {std::move(arguments), {}}, "", 60s);
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        return result;
    }
    std::string control(const std::string& path) const {
        return testsupport::runProcess("/usr/bin/curl", {{"-sS", base_ + path}}).standardOutput;
    }
    std::uintmax_t servedBytes(const std::string& name) const {
        return cli::Json::parse(control("_served")).value("/" + name, std::uintmax_t{0});
    }

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
    static cli::Json payloadOf(const std::string& line) { return cli::Json::parse(line).at("payload"); }
    // Reads progress lines until the download has at least `fraction` of the model.
    static void awaitProgress(testsupport::ChildProcess& download, double fraction) {
        while (auto line = download.readLine(20s)) {
            if (payloadOf(*line).at("data").value("progress", 0.0) >= fraction) return;
        }
        ADD_FAILURE() << "the download ended or stalled";
    }
    std::vector<std::string> finalTexts(const std::string& text) const {
        std::vector<std::string> finals;
        for (const auto& line : harkline({"transcribe"}, script({"spell", served().string(), text}).standardOutput).lines())
            if (auto payload = payloadOf(line); payload.value("isFinal", false)) finals.push_back(payload.at("text"));
        return finals;
    }

    testsupport::TemporaryHome home_;
    std::unique_ptr<testsupport::ChildProcess> server_;
    std::string base_;
};

TEST_F(CatalogDownloadProcess, CancelledAndKilledDownloadsResumeFetchingOnlyTheRestThenTheModelTranscribes) {
    auto encoderSize = fs::file_size(served() / "encoder.onnx");
    control("_fault?rate=2000");  // the encoder takes about 6 s

    auto cancelled = startDownload();
    awaitProgress(*cancelled, 0.05);
    EXPECT_EQ(harkline({"assets.cancel"}).exitStatus, 0);
    std::optional<std::string> closing;
    while (auto line = cancelled->readLine(20s)) closing = line;
    ASSERT_TRUE(closing);
    EXPECT_EQ(payloadOf(*closing).value("code", ""), "apple_download_cancelled") << *closing;
    auto keptAfterCancel = fs::file_size(downloadFolder() / "encoder.onnx.part");
    EXPECT_GT(keptAfterCancel, 0u);

    auto killed = startDownload();
    awaitProgress(*killed, 0.5);
    killed->signal(SIGKILL);
    killed->wait(10s);
    auto kept = fs::file_size(downloadFolder() / "encoder.onnx.part");
    EXPECT_GT(kept, keptAfterCancel);
    EXPECT_LT(kept, encoderSize);
    EXPECT_FALSE(store().installedModel("zh-CN"));
    std::uintmax_t keptInFolder = 0;
    for (const auto& entry : fs::directory_iterator(downloadFolder()))
        if (entry.path().filename() != ".lock") keptInFolder += entry.file_size();

    control("_fault");
    control("_reset");
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
    // The rest of the encoder once, give or take the server's last pieces (100 bytes at
    // this rate) on their way to the killed process, which it counts after the reset.
    EXPECT_GE(servedBytes("encoder.onnx"), encoderSize - kept);
    EXPECT_LE(servedBytes("encoder.onnx"), encoderSize - kept + 200);
    EXPECT_EQ(servedBytes("tokens.txt"), fs::file_size(served() / "tokens.txt"));
    EXPECT_FALSE(fs::exists(downloadFolder()));

    // Installed as the catalogue pins it: nothing to fetch again, and the engine uses it.
    control("_reset");
    EXPECT_EQ(payloadOf(harkline({"assets.download", "--locale", "zh-CN"}).lines().back()).at("stage"), "assets-ready");
    EXPECT_EQ(control("_served"), "{}");
    EXPECT_EQ(finalTexts("你好世界"), std::vector<std::string>{"你好世界"});
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
    control("_fault?status=404");
    EXPECT_EQ(failureOf("zh-CN"), "HTTP 404 for " + base_ + "encoder.onnx");
    EXPECT_EQ(failureOf("en-US"), "HTTP 404 for " + base_ + "encoder.onnx");

    EXPECT_EQ(store().installedModel("zh-CN")->manifest, installed);
    // Both locales have a model to download, while the models in place serve.
    EXPECT_EQ(payloadOf(harkline({"assets.status", "--locale", "en-US"}).lines().back()).at("data").dump(),
              R"({"locale":"en-US","status":"assets-available","installed":false})");
    auto locales = payloadOf(harkline({"support.locales"}).lines().back()).at("data").at("locales");
    EXPECT_EQ(locales.size(), 2u);
    for (const auto& entry : locales) EXPECT_TRUE(entry.at("needsDownload").get<bool>()) << entry.dump();
    control("_fault");
    EXPECT_EQ(finalTexts("你好"), std::vector<std::string>{"你好"});
}

// In this process, a verifier in place of the trial load.
TEST_F(CatalogDownloadProcess, EveryByteInPlaceIsExactlyOneAndADamagedModelGetsOnlyItsDamagedFilesAgain) {
    std::vector<double> atVerification;
    LinuxSpeechAssetInventory inventory(
        store(), {}, {},
        [&](const InstalledSpeechModel&, const AssetInstallationProgress& progress) {
            atVerification.push_back(progress.fractionCompleted());
        },
        [this] { return SpeechModelCatalog::load(catalog()); });
    auto request = inventory.assetInstallationRequest({{"zh-CN"}});
    ASSERT_TRUE(request);
    request->downloadAndInstall();
    EXPECT_EQ(atVerification, std::vector<double>{1.0});
    EXPECT_EQ(inventory.status({{"zh-CN"}}), AssetInventoryStatus::installed);

    auto encoder = testsupport::readFile(models() / "zh-CN" / "encoder.onnx");
    encoder[encoder.size() / 2] ^= 0x55;
    testsupport::writeFile(models() / "zh-CN" / "encoder.onnx", encoder);
    EXPECT_EQ(inventory.status({{"zh-CN"}}), AssetInventoryStatus::supported);
    control("_reset");
    request = inventory.assetInstallationRequest({{"zh-CN"}});
    ASSERT_TRUE(request);
    // The intact files count from the first report.
    EXPECT_DOUBLE_EQ(request->progress().fractionCompleted(),
                     static_cast<double>(totalBytes() - encoder.size()) / static_cast<double>(totalBytes()));
    request->downloadAndInstall();
    EXPECT_EQ(cli::Json::parse(control("_served")).dump(), R"({"/encoder.onnx":)" + std::to_string(encoder.size()) + "}");
    EXPECT_EQ(inventory.status({{"zh-CN"}}), AssetInventoryStatus::installed);
    EXPECT_FALSE(fs::exists(downloadFolder()));
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
