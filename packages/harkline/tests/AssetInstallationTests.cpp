#include <cstdlib>
#include <filesystem>

#include <sys/mount.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "harkline/Platform/Speech/Models/ModelInstallationLock.h"
#include "harkline/Platform/Speech/Linux/StoredSpeechModels.h"
#include "harkline/Platform/Speech/Models/StagedModelInstallation.h"
#include "harkline/Platform/System/Linux/LinuxSystemInfo.h"
#include "harkline/tests/SpeechModelInstallation.h"
#include "test-support/TemporaryHome.h"

namespace harkline {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::englishModelSource;
using testing_support::installSpeechModel;
using testing_support::oldModelSource;
using testsupport::writeFile;

SpeechModelSource englishFilesAs(const std::string& locale) {
    auto source = englishModelSource();
    source.locale = locale;
    return {source};
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class AssetInstallationTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(englishModelSource().isPresent()) << "pocketsphinx-en-us is not installed"; }

    fs::path models() const { return home_.path() / "models"; }
    SpeechModelStore store() const { return SpeechModelStore(models()); }
    void installOldModel(const std::string& locale) {
        installSpeechModel(store(), oldModelSource(home_.path() / "old-source", locale));
    }

    testsupport::TemporaryHome home_;
};

TEST_F(AssetInstallationTest, SourceDescriptorsAreReadAndBrokenOnesSkippedWithTheirReason) {
    auto folder = home_.path() / "sources";
    auto other = home_.path() / "other";
    writeFile(folder / "files" / "d.dict", "");
    writeFile(other / "d", "");
    writeFile(folder / "a.json",
              R"({"locale":"en_gb","engine":"pocketsphinx","directory":"files","components":{"dictionary":"d.dict"}})");
    writeFile(folder / "b.json", R"({"locale":"en-US","engine":"pocketsphinx","directory":")" + other.string() +
                                     R"(","components":{"d":"d"}})");
    writeFile(folder / "unknown-engine.json",
              R"({"locale":"de-DE","engine":"e","directory":"files","components":{"d":"d.dict"}})");
    writeFile(folder / "missing.json",
              R"({"locale":"de-DE","engine":"pocketsphinx","directory":"files","components":{"d":"d.txt"}})");
    writeFile(folder / "broken.json", R"({"locale":"en-GB")");
    writeFile(folder / "bad-locale.json", R"({"locale":"../etc","engine":"e","directory":"/","components":{"d":"d"}})");
    writeFile(folder / "escape.json", R"({"locale":"de-DE","engine":"e","directory":"/","components":{"d":"../../etc/passwd"}})");
    writeFile(folder / "notes.txt", "not a descriptor");
    ASSERT_EQ(::mkfifo((folder / "fifo.json").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", folder / "zero.json");
    std::vector<std::string> logged;
    cli::Logger logger([&](cli::LogLevel, std::string_view line) { logged.emplace_back(line); }, {});

    auto isKnownEngine = [](const std::string& engine) { return engine == "pocketsphinx"; };
    auto sources = loadSpeechModelSourceFolder(folder, isKnownEngine, logger);
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_EQ(sources[0].locale, "en-GB");
    EXPECT_EQ(sources[0].directory, folder / "files");
    ASSERT_EQ(logged.size(), 7u);
    EXPECT_TRUE(logged[0].starts_with("忽略无效的语音模型来源 " + (folder / "bad-locale.json").string() + ": "));
    EXPECT_TRUE(logged[3].ends_with("fifo.json is not a regular file")) << logged[3];
    EXPECT_TRUE(logged[4].ends_with(": component \"d\" is missing: " + (folder / "files" / "d.txt").string())) << logged[4];
    EXPECT_TRUE(logged[5].ends_with(": no engine \"e\" in this harkline")) << logged[5];
    EXPECT_TRUE(logged[6].ends_with("zero.json is not a regular file")) << logged[6];

    // The variable names the folder; system models are no source (they are used where they lie).
    ::setenv(speechModelSourcesVariable, folder.c_str(), 1);
    auto all = installableSpeechModelSources(isKnownEngine, cli::Logger());
    ::unsetenv(speechModelSourcesVariable);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].locale, "en-GB");
    EXPECT_EQ(all[1].directory, other);
}

TEST_F(AssetInstallationTest, ModelStatusFollowsSourcesStoreAndRunningInstallations) {
    auto missing = englishFilesAs("fr-FR");
    missing.directory = home_.path() / "nowhere";
    StoredSpeechModels stored({.store = store(), .sources = {englishModelSource(), englishFilesAs("en-GB"), missing}}, {});

    EXPECT_EQ(stored.supportedLocales(), (std::vector<std::string>{"en-GB", "en-US"}));
    EXPECT_TRUE(stored.installedLocales().empty());
    EXPECT_EQ(stored.status("en_gb"), ModelStatus::available);
    for (const char* unsupported : {"fr-FR", "de-DE", "../en-GB", ""})
        EXPECT_EQ(stored.status(unsupported), ModelStatus::unsupported) << unsupported;
    EXPECT_THROW(stored.installation("../en-GB"), std::invalid_argument);
    EXPECT_THROW(stored.installation("fr-FR"), std::runtime_error);

    fs::create_directories(models());
    {
        auto lock = ModelInstallationLock::tryAcquire(ModelInstallationLock::path(models(), "en-GB"));
        ASSERT_TRUE(lock);
        EXPECT_FALSE(ModelInstallationLock::tryAcquire(ModelInstallationLock::path(models(), "en-GB")));
        EXPECT_EQ(stored.status("en-GB"), ModelStatus::installing);
        EXPECT_EQ(stored.status("en-US"), ModelStatus::available);
    }
    EXPECT_EQ(stored.status("en-GB"), ModelStatus::available);

    // An older model is installed, but differs from the source: not installed until the
    // source's model replaces it.
    installOldModel("en-GB");
    EXPECT_EQ(stored.status("en-GB"), ModelStatus::available);
    EXPECT_TRUE(stored.installedLocales().empty());
    auto request = stored.installation("en-GB");
    ASSERT_TRUE(request);
    request->downloadAndInstall({});
    EXPECT_EQ(request->progress().fractionCompleted(), 1.0);
    EXPECT_TRUE(sameModelFiles(store().installedModel("en-GB")->manifest, englishFilesAs("en-GB").manifest()));
    EXPECT_EQ(stored.installation("en-GB"), nullptr);
    EXPECT_EQ(stored.status("en-GB"), ModelStatus::installed);
    EXPECT_EQ(stored.installedLocales(), std::vector<std::string>{"en-GB"});

    // A model without a source is kept, and there is nothing to install for it.
    installOldModel("fr-FR");
    EXPECT_EQ(stored.installation("fr-FR"), nullptr);
    EXPECT_EQ(stored.supportedLocales(), (std::vector<std::string>{"en-GB", "en-US", "fr-FR"}));
}

TEST_F(AssetInstallationTest, ACancelledInstallationLeavesTheOldModelAndTheNextStartsClean) {
    installOldModel("en-GB");
    auto oldManifest = store().installedModel("en-GB")->manifest;
    // A marker that appears a fifth into the copy (reports at every piece copied).
    auto marker = home_.path() / "download.cancel";
    StagedModelInstallation cancelled(models(), englishFilesAs("en-GB"));
    InstallationWatch watch{
        .cancelMarker = marker,
        .cancelRequested = [&] { return fs::exists(marker); },
        .report = [&](double fraction) {
            if (fraction >= 0.2 && !fs::exists(marker)) writeFile(marker, "");
        },
        .reportInterval = 0ms,
    };
    EXPECT_THROW(cancelled.downloadAndInstall(watch), AssetInstallationCancelled);
    EXPECT_GE(cancelled.progress().fractionCompleted(), 0.2);
    EXPECT_LT(cancelled.progress().fractionCompleted(), 1.0);
    EXPECT_EQ(store().installedModel("en-GB")->manifest, oldManifest);
    EXPECT_EQ(namesIn(models()), (std::vector<std::string>{".en-GB.lock", "en-GB"}));

    // What killed installations left behind is removed by the next one, whatever the
    // locale; the staging folder of an installation that still runs stays.
    writeFile(models() / ".en-GB.staging-Ab12Cd" / "en-GB" / "en-us.lm.bin", "half");
    writeFile(models() / ".en-US.staging-Ab12Cd" / "x", "another locale's, its installer killed");
    writeFile(models() / ".de-DE.staging-Ef34Gh" / "x", "another locale's, being installed");
    auto running = ModelInstallationLock::tryAcquire(ModelInstallationLock::path(models(), "de-DE"));
    StagedModelInstallation fresh(models(), englishFilesAs("en-GB"));
    fresh.downloadAndInstall({});
    EXPECT_TRUE(sameModelFiles(store().installedModel("en-GB")->manifest, englishFilesAs("en-GB").manifest()));
    EXPECT_EQ(namesIn(models()),
              (std::vector<std::string>{".de-DE.lock", ".de-DE.staging-Ef34Gh", ".en-GB.lock", "en-GB"}));
}

TEST_F(AssetInstallationTest, FailuresNameTheirReasonAndLeaveNoHalfModel) {
    // Another installation of the locale is running.
    fs::create_directories(models());
    {
        auto lock = ModelInstallationLock::tryAcquire(ModelInstallationLock::path(models(), "en-GB"));
        try {
            StagedModelInstallation(models(), englishFilesAs("en-GB")).downloadAndInstall({});
            ADD_FAILURE();
        } catch (const std::runtime_error& failure) {
            EXPECT_STREQ(failure.what(), "another installation of the en-GB speech model is running");
        }
    }

    // The source loses a file after the request was made.
    installOldModel("en-GB");
    auto oldManifest = store().installedModel("en-GB")->manifest;
    auto copy = home_.path() / "copy";
    fs::copy(englishModelSource().directory, copy, fs::copy_options::recursive);
    auto vanishing = englishFilesAs("en-GB");
    vanishing.directory = copy;
    StoredSpeechModels stored({.store = store(), .sources = {vanishing}}, {});
    auto request = stored.installation("en-GB");
    fs::remove(copy / "en-us.lm.bin");
    EXPECT_THROW(request->downloadAndInstall({}), std::exception);
    EXPECT_EQ(store().installedModel("en-GB")->manifest, oldManifest);
    EXPECT_EQ(namesIn(models()), (std::vector<std::string>{".en-GB.lock", "en-GB"}));
}

// A real full disk: a small tmpfs as the models folder.
TEST_F(AssetInstallationTest, AFullDiskFailsWithItsReasonAndKeepsNothing) {
    fs::create_directories(models());
    if (::mount("tmpfs", models().c_str(), "tmpfs", 0, "size=4m") != 0)
        GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
    struct Unmount {
        fs::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{models()};

    try {
        StagedModelInstallation(models(), englishFilesAs("en-GB")).downloadAndInstall({});
        ADD_FAILURE();
    } catch (const std::system_error& failure) {
        EXPECT_EQ(failure.code(), std::errc::no_space_on_device) << failure.what();
        EXPECT_NE(std::string(failure.what()).find("No space left on device"), std::string::npos);
    }
    EXPECT_EQ(store().installedModel("en-GB"), std::nullopt);
    EXPECT_EQ(namesIn(models()), std::vector<std::string>{".en-GB.lock"});
}

TEST(LinuxSystemInfo, ReadsKernelReleasesLocaleVariablesAndNamesLocalesInTheirOwnLanguage) {
    using Version = OperatingSystemVersion;
    EXPECT_EQ(LinuxSystemInfo::parseKernelRelease("6.1.0-18-amd64"), (Version{6, 1, 0}));
    EXPECT_EQ(LinuxSystemInfo::parseKernelRelease("6.18.44"), (Version{6, 18, 44}));
    EXPECT_EQ(LinuxSystemInfo::parseKernelRelease("5.15"), (Version{5, 15, 0}));
    EXPECT_EQ(LinuxSystemInfo::parseKernelRelease("4.19-rc1"), (Version{4, 19, 0}));
    EXPECT_EQ(LinuxSystemInfo::parseKernelRelease("garbage"), (Version{0, 0, 0}));
    EXPECT_EQ(LinuxSystemInfo::parseKernelRelease("99999999999.1"), (Version{2147483647, 1, 0}));

    EXPECT_EQ(LinuxSystemInfo::localeFromPosixName("en_US.UTF-8"), "en-US");
    EXPECT_EQ(LinuxSystemInfo::localeFromPosixName("de_DE@euro"), "de-DE");
    EXPECT_EQ(LinuxSystemInfo::localeFromPosixName("C.UTF-8"), std::nullopt);
    EXPECT_EQ(LinuxSystemInfo::localeFromPosixName("POSIX"), std::nullopt);
    EXPECT_EQ(LinuxSystemInfo::localeFromPosixName("../x"), std::nullopt);

    LinuxSystemInfo system([] { return true; });
    EXPECT_EQ(system.speechAuthorizationStatus(), SpeechAuthorizationStatus::authorized);
    EXPECT_EQ(LinuxSystemInfo([] { return false; }).speechAuthorizationStatus(),
              SpeechAuthorizationStatus::notDetermined);
    EXPECT_GT(system.operatingSystemVersion().major, 0);

    EXPECT_EQ(system.localeSelfName("en-US"), "English (United States)");
    EXPECT_EQ(system.localeSelfName("zh-CN"), "中文（中国）");
    EXPECT_EQ(system.localeSelfName("de-DE"), "Deutsch (Deutschland)");
    EXPECT_EQ(system.localeSelfName("qq-QQ"), std::nullopt);
    EXPECT_EQ(system.localeSelfName("--preset"), std::nullopt);
}

TEST(LinuxSystemInfo, CurrentLocaleComesFromTheFirstSetPosixVariable) {
    struct Saved {
        std::string name;
        std::optional<std::string> value;
    };
    std::vector<Saved> saved;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        saved.push_back({name, value ? std::optional<std::string>(value) : std::nullopt});
    }
    auto set = [](std::optional<std::string> all, std::optional<std::string> messages, std::optional<std::string> lang) {
        auto apply = [](const char* name, const std::optional<std::string>& value) {
            value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
        };
        apply("LC_ALL", all);
        apply("LC_MESSAGES", messages);
        apply("LANG", lang);
        return LinuxSystemInfo([] { return true; }).currentLocaleIdentifier();
    };
    EXPECT_EQ(set(std::nullopt, std::nullopt, std::nullopt), "en-US");
    EXPECT_EQ(set(std::nullopt, std::nullopt, "en_GB.UTF-8"), "en-GB");
    EXPECT_EQ(set("", "fr_FR.UTF-8", "en_GB.UTF-8"), "fr-FR");
    EXPECT_EQ(set("zh_CN.UTF-8", "fr_FR", "en_GB"), "zh-CN");
    EXPECT_EQ(set("C", "fr_FR", "en_GB"), "en-US");
    EXPECT_EQ(set(std::nullopt, std::nullopt, "POSIX"), "en-US");
    for (const auto& [name, value] : saved) value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
}

}  // namespace
}  // namespace harkline
