#include <atomic>
#include <cstdlib>
#include <random>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "harkline/Platform/Speech/Download/CurlModelFileFetcher.h"
#include "harkline/Platform/Speech/Download/ModelDownload.h"
#include "harkline/tests/ModelFileServer.h"
#include "test-support/ChildProcess.h"
#include "test-support/TemporaryHome.h"

namespace harkline {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::readFile;
using testsupport::runProcess;

std::string sha256sum(const fs::path& file) {
    return runProcess("/usr/bin/sha256sum", {{file.string()}}).standardOutput.substr(0, 64);
}

template <typename Failure>
Failure failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Failure& failure) {
        return failure;
    }
    throw std::runtime_error("no failure of the expected kind");
}

TEST(SpeechModelCatalog, ParsesPinnedModelsAndSaysWhatIsWrongWithABadOne) {
    auto builtIn = SpeechModelCatalog::builtIn();
    for (const char* locale : {"zh-CN", "en-US"}) {
        auto model = builtIn.model(locale);
        ASSERT_TRUE(model) << locale;
        EXPECT_EQ(model->engine, "sherpa-onnx-transducer");
        for (const auto& file : model->files) EXPECT_TRUE(file.url.starts_with("https://")) << file.url;
    }
    EXPECT_EQ(builtIn.model("xx-XX"), std::nullopt);

    std::string file = R"({"name":"tokens.txt","url":"http://127.0.0.1:1/t","size":5,"sha256":")" +
                       std::string(64, 'A') + R"("})";
    auto good = SpeechModelCatalog::parse(R"({"models":[{"locale":"zh-CN","engine":"e","files":[)" + file + "]}]}", "x");
    EXPECT_EQ(good.model("zh-CN")->files.at(0), (CatalogModelFile{"tokens.txt", "http://127.0.0.1:1/t", 5, std::string(64, 'a')}));

    auto model = [](const std::string& files) { return R"({"models":[{"locale":"zh-CN","engine":"e","files":[)" + files + "]}]}"; };
    auto withFile = [&](const std::string& from, const std::string& to) {
        auto changed = file;
        changed.replace(changed.find(from), from.size(), to);
        return model(changed);
    };
    std::vector<std::pair<std::string, std::string>> bad{
        {"{", "the speech model catalogue t.json is not JSON"},
        {"[]", "the document must be an object"},
        {R"({"model":[]})", "the document has no \"models\""},
        {model(""), "models[0].files is empty"},
        {model(file + "," + file), "models[0].files[1].name repeats the role of \"tokens.txt\""},
        {withFile("tokens.txt", "../x"), "models[0].files[0].name must be a plain file name"},
        {withFile("http:", "file:"), "models[0].files[0].url must be an http or https address"},
        {withFile("5", "-5"), "models[0].files[0].size must be a whole number of bytes"},
        {withFile("AAAA", "AAAG"), "models[0].files[0].sha256 must be 64 hexadecimal digits"},
        {withFile(R"("name":"tokens.txt",)", ""), "models[0].files[0] has no \"name\""},
        {R"({"models":[)" + model(file).substr(11, model(file).size() - 13) + "," +
             model(file).substr(11, model(file).size() - 13) + "]}",
         "models[1].locale repeats \"zh-CN\""},
    };
    for (const auto& [text, message] : bad) {
        auto error = failureOf<SpeechModelCatalogError>([&] { SpeechModelCatalog::parse(text, "t.json"); });
        EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
    }

    testsupport::TemporaryHome home;
    testsupport::writeFile(home.path() / "catalog.json", model(file));
    ::setenv(SpeechModelCatalog::environmentVariable, (home.path() / "catalog.json").c_str(), 1);
    EXPECT_EQ(SpeechModelCatalog::current().models(), good.models());
    ::setenv(SpeechModelCatalog::environmentVariable, (home.path() / "missing.json").c_str(), 1);
    EXPECT_THROW(SpeechModelCatalog::current(), SpeechModelCatalogError);
    // Neither endless nor blocking files are read.
    ASSERT_EQ(::mkfifo((home.path() / "fifo.json").c_str(), 0600), 0);
    testsupport::writeFile(home.path() / "large.json", std::string(SpeechModelCatalog::largestCatalog + 1, ' '));
    for (const auto& [catalogFile, reason] : std::vector<std::pair<std::string, std::string>>{
             {"/dev/zero", "/dev/zero is not a regular file"},
             {(home.path() / "fifo.json").string(), "fifo.json is not a regular file"},
             {(home.path() / "large.json").string(), "large.json is larger than 1048576 bytes"}}) {
        ::setenv(SpeechModelCatalog::environmentVariable, catalogFile.c_str(), 1);
        std::string failure = failureOf<SpeechModelCatalogError>([] { SpeechModelCatalog::current(); }).what();
        EXPECT_TRUE(failure.ends_with(reason)) << failure;
    }
    ::unsetenv(SpeechModelCatalog::environmentVariable);
    EXPECT_EQ(SpeechModelCatalog::current().models(), builtIn.models());
}

class ModelDownloadTest : public testing::Test {
protected:
    fs::path servedFolder() const { return home_.path() / "served"; }
    fs::path folder() const { return home_.path() / "models" / ".zh-CN.download"; }

    // A file of random bytes on the server, as the catalogue would list it.
    CatalogModelFile serve(const std::string& name, std::size_t size, const std::string& route = "") {
        std::mt19937 random(static_cast<unsigned>(size));
        std::string bytes(size, '\0');
        for (auto& byte : bytes) byte = static_cast<char>(random());
        testsupport::writeFile(servedFolder() / name, bytes);
        return {name, server_.base() + route + name, size, sha256sum(servedFolder() / name)};
    }
    CatalogModel modelOf(std::vector<CatalogModelFile> files) const { return {"zh-CN", "sherpa-onnx-transducer", files}; }


    void download(const CatalogModel& model, CurlFetchSettings settings = {}, const InstallationWatch& watch = {}) {
        CurlModelFileFetcher fetcher(settings);
        AssetInstallationProgress progress;
        InstallationLoop loop(progress, watch);
        ModelDownload(fetcher, folder(), model).run([this](std::uintmax_t done, std::uintmax_t total) {
            EXPECT_LE(done, total);
            progress_.push_back(done);
        }, loop);
    }
    std::uintmax_t partialSize(const std::string& name) const { return fs::file_size(folder() / (name + ".part")); }

    testsupport::TemporaryHome home_;
    testing_support::ModelFileServer server_{(fs::create_directories(servedFolder()), servedFolder())};
    std::vector<std::uintmax_t> progress_;
};

TEST_F(ModelDownloadTest, FetchesAWholeModelThroughRedirectsAndVerifiesItAgainNextTime) {
    auto model = modelOf({serve("encoder.int8.onnx", 1'500'000), serve("joiner.onnx", 70'000, "redirect/"), serve("tokens.txt", 10)});
    testsupport::writeFile(folder() / "tokens.txt.part", "longer than the whole file");
    download(model);
    for (const auto& file : model.files) {
        EXPECT_EQ(readFile(folder() / file.name), readFile(servedFolder() / file.name));
        EXPECT_EQ(server_.served(file.name), file.size);
    }
    for (const auto& entry : fs::directory_iterator(folder())) EXPECT_FALSE(entry.path().string().ends_with(".part"));
    EXPECT_TRUE(std::is_sorted(progress_.begin(), progress_.end()));
    EXPECT_EQ(progress_.back(), model.totalBytes());

    // The next run checks every file again and fetches only the one changed since.
    testsupport::writeFile(folder() / "joiner.onnx", std::string(70'000, 'x'));
    progress_.clear();
    download(model);
    EXPECT_EQ(server_.served("encoder.int8.onnx"), 1'500'000u);
    EXPECT_EQ(server_.served("joiner.onnx"), 140'000u);
    EXPECT_EQ(sha256sum(folder() / "joiner.onnx"), model.files[1].sha256);
    EXPECT_EQ(progress_.back(), model.totalBytes());
}

TEST_F(ModelDownloadTest, ResumesACutTransferWithARangeAndRestartsWhenTheServerIgnoresRanges) {
    auto resumed = serve("encoder.int8.onnx", 1'000'000);
    auto restarted = serve("decoder.int8.onnx", 300'000);
    auto spoiled = serve("joiner.int8.onnx", 300'000);
    for (const auto& file : {resumed, restarted, spoiled}) {
        server_.control("_fault?drop_after=200000");
        auto error = failureOf<ModelDownloadError>([&] { download(modelOf({file})); });
        EXPECT_EQ(error.failure(), ModelDownloadFailure::network);
        EXPECT_NE(std::string(error.what()).find("connection to 127.0.0.1:"), std::string::npos) << error.what();
        EXPECT_EQ(partialSize(file.name), 200'000u);
        EXPECT_FALSE(fs::exists(folder() / file.name));
    }
    server_.control("_fault");
    download(modelOf({resumed}));
    EXPECT_EQ(server_.served(resumed.name), resumed.size) << "each byte once";
    // Kept bytes that went bad (a power loss before they reached the disk): fetched whole once more.
    testsupport::writeFile(folder() / "joiner.int8.onnx.part", std::string(200'000, '\0'));
    download(modelOf({spoiled}));
    EXPECT_EQ(server_.served(spoiled.name), 200'000 + (spoiled.size - 200'000) + spoiled.size);
    server_.control("_fault?norange=1");
    download(modelOf({restarted}));
    EXPECT_EQ(server_.served(restarted.name), 200'000 + restarted.size);
    for (const auto& file : {resumed, restarted, spoiled}) EXPECT_EQ(sha256sum(folder() / file.name), file.sha256);
}

TEST_F(ModelDownloadTest, ReportsHttpErrorsWrongBytesAndUnreachableServersWithTheirReason) {
    auto file = serve("encoder.int8.onnx", 100'000);
    for (int status : {404, 500}) {
        server_.control("_fault?status=" + std::to_string(status));
        auto error = failureOf<ModelDownloadError>([&] { download(modelOf({file})); });
        EXPECT_EQ(error.what(), "HTTP " + std::to_string(status) + " for " + file.url);
        EXPECT_EQ(error.httpStatus(), status);
    }
    server_.control("_fault");
    auto wrongHash = file;
    wrongHash.sha256 = std::string(64, '0');
    EXPECT_EQ(failureOf<ModelDownloadError>([&] { download(modelOf({wrongHash})); }).what(),
              std::string("checksum mismatch for encoder.int8.onnx"));
    // The catalogue wants more than the server has, and a partial file reaches past the
    // server's end (416): the file starts over and then ends short.
    auto longer = file;
    longer.size += 1;
    testsupport::writeFile(folder() / "encoder.int8.onnx.part", std::string(file.size, 'x'));
    EXPECT_EQ(failureOf<ModelDownloadError>([&] { download(modelOf({longer})); }).failure(), ModelDownloadFailure::content);
    EXPECT_FALSE(fs::exists(folder() / "encoder.int8.onnx.part")) << "wrong bytes are not kept";
    EXPECT_FALSE(fs::exists(folder() / "encoder.int8.onnx"));

    auto unreachable = file;
    unreachable.url = "http://127.0.0.1:1/encoder.int8.onnx";
    auto error = failureOf<ModelDownloadError>([&] { download(modelOf({unreachable})); });
    EXPECT_TRUE(std::string(error.what()).starts_with("could not connect to 127.0.0.1:1")) << error.what();
    auto unresolvable = file;
    unresolvable.url = "http://model-host.invalid/encoder.int8.onnx";
    EXPECT_EQ(failureOf<ModelDownloadError>([&] { download(modelOf({unresolvable})); }).what(),
              std::string("could not resolve host model-host.invalid"));

    // Through the proxy that the usual variable names, the proxy resolves the host.
    ::setenv("http_proxy", server_.base().c_str(), 1);
    download(modelOf({unresolvable}));
    ::unsetenv("http_proxy");
    EXPECT_EQ(sha256sum(folder() / file.name), file.sha256);
}

TEST_F(ModelDownloadTest, AStalledServerEndsTheDownloadAndACancelStopsItMidFile) {
    auto file = serve("encoder.int8.onnx", 1'000'000);
    server_.control("_fault?stall_after=300000");
    auto error = failureOf<ModelDownloadError>([&] { download(modelOf({file}), {.stallLimit = 300ms}); });
    EXPECT_NE(std::string(error.what()).find("stalled"), std::string::npos) << error.what();
    EXPECT_EQ(partialSize(file.name), 300'000u);

    {
        int otherDownload = ::open((folder() / ".lock").c_str(), O_RDWR);
        ASSERT_EQ(::flock(otherDownload, LOCK_EX), 0);
        EXPECT_NE(std::string(failureOf<ModelDownloadError>([&] { download(modelOf({file})); }).what()).find("another download"),
                  std::string::npos);
        ::close(otherDownload);
    }
    // The server sends the next bytes and stalls again: reports go on, and only a cancel
    // marker, which the loop sees although nothing arrives, can end this run.
    auto marker = home_.path() / "download.cancel";
    int reportsWhileStalled = 0;
    InstallationWatch watch{
        .cancelMarker = marker,
        .cancelRequested = [&] { return fs::exists(marker); },
        .report = [&](double) {
            bool stalled = !progress_.empty() && progress_.back() >= 600'000;
            if (stalled && ++reportsWhileStalled == 2) testsupport::writeFile(marker, "");
        },
        .reportInterval = 100ms,
    };
    EXPECT_THROW(download(modelOf({file}), {}, watch), AssetInstallationCancelled);
    EXPECT_EQ(partialSize(file.name), 600'000u);
}

// Where the marker's folder cannot be watched (here: it does not exist yet), the marker is
// looked at on every wake-up, and waits are short enough for a prompt cancel.
TEST(InstallationLoop, ReportsWhileItWaitsAndSeesAMarkerItCannotWatch) {
    testsupport::TemporaryHome home;
    auto marker = home.path() / "later" / "download.cancel";
    AssetInstallationProgress progress;
    progress.setFractionCompleted(0.25);
    std::vector<double> reports;
    InstallationLoop loop(progress, {
        .cancelMarker = marker,
        .cancelRequested = [&] { return fs::exists(marker); },
        .report = [&](double fraction) {
            reports.push_back(fraction);
            if (reports.size() == 3) testsupport::writeFile(marker, "");
        },
        .reportInterval = 10ms,
    });
    EXPECT_EQ(loop.markerDescriptor(), -1);
    EXPECT_THROW(loop.waitUntilReadable(-1, std::chrono::steady_clock::now() + 1h), AssetInstallationCancelled);
    EXPECT_EQ(reports, std::vector<double>(3, 0.25));
    EXPECT_TRUE(progress.isCancelled());
}

// A real full disk: a small tmpfs as the download folder. What was fetched goes.
TEST_F(ModelDownloadTest, AFullDiskEndsWithNoSpaceLeftOnDevice) {
    auto file = serve("encoder.int8.onnx", 6'000'000);
    fs::create_directories(folder());
    if (::mount("tmpfs", folder().c_str(), "tmpfs", 0, "size=4m") != 0)
        GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
    struct Unmount {
        fs::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{folder()};
    auto error = failureOf<ModelDownloadError>([&] { download(modelOf({file})); });
    EXPECT_EQ(error.failure(), ModelDownloadFailure::noSpace);
    EXPECT_TRUE(std::string(error.what()).starts_with("no space left on device for encoder.int8.onnx")) << error.what();
    EXPECT_FALSE(fs::exists(folder() / "encoder.int8.onnx.part")) << "a resume is not worth a full disk";
}

}  // namespace
}  // namespace harkline
