#include <filesystem>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "harkline/Platform/Speech/LocaleIdentifier.h"
#include "harkline/Platform/Speech/SpeechModelStore.h"
#include "harkline/tests/SpeechModelInstallation.h"
#include "test-support/TemporaryHome.h"

namespace harkline {
namespace {

namespace fs = std::filesystem;
using testing_support::englishModelSource;
using testing_support::installSpeechModel;
using testsupport::writeFile;

TEST(LocaleIdentifier, SpellingsOfOneLocaleMeetAndNonLocalesAreRefused) {
    EXPECT_EQ(canonicalLocaleIdentifier("en_us"), "en-US");
    EXPECT_EQ(canonicalLocaleIdentifier("EN-us"), "en-US");
    EXPECT_EQ(canonicalLocaleIdentifier("zh-hans-cn"), "zh-Hans-CN");
    EXPECT_EQ(canonicalLocaleIdentifier("es-419"), "es-419");
    EXPECT_EQ(canonicalLocaleIdentifier("fr"), "fr");
    for (const char* bad : {"", "e", "english", "en-", "-US", "en-US-x", "../en-US", "en/US", "en-U1", "en US"})
        EXPECT_EQ(canonicalLocaleIdentifier(bad), std::nullopt) << bad;
    EXPECT_EQ(localeLanguage("zh-Hans-CN"), "zh");
}

class SpeechModelStoreTest : public testing::Test {
protected:
    testsupport::TemporaryHome home_;
    SpeechModelStore store_ = SpeechModelStore::inApplicationSupport(home_.dataHome() / "tessaryn" / "harkline");
};

TEST_F(SpeechModelStoreTest, AnInstalledModelIsFoundWithItsComponentsAndEveryDamageUninstallsIt) {
    auto source = englishModelSource();
    ASSERT_TRUE(source.isPresent()) << "pocketsphinx-en-us is not installed";
    EXPECT_EQ(store_.installedModel("en-US"), std::nullopt);
    EXPECT_TRUE(store_.recordedLocales().empty());

    installSpeechModel(store_, source);
    auto directory = home_.dataHome() / "tessaryn" / "harkline" / "models" / "en-US";
    auto model = store_.installedModel("en_us");
    ASSERT_TRUE(model);
    EXPECT_EQ(model->directory, directory);
    EXPECT_EQ(model->manifest, source.manifest());
    EXPECT_EQ(model->component("acousticModel"), directory / "en-us");
    EXPECT_EQ(model->component("languageModel"), directory / "en-us.lm.bin");
    EXPECT_TRUE(fs::is_regular_file(directory / "en-us" / "mdef"));
    EXPECT_EQ(model->component("nothing"), std::nullopt);
    EXPECT_EQ(store_.recordedLocales(), std::vector<std::string>{"en-US"});

    auto manifestText = testsupport::readFile(directory / "model.json");
    auto restore = [&] { writeFile(directory / "model.json", manifestText); };

    // A file shorter than listed (an interrupted copy).
    fs::resize_file(directory / "cmudict-en-us.dict", 10);
    EXPECT_EQ(store_.installedModel("en-US"), std::nullopt);
    fs::copy_file(source.directory / "cmudict-en-us.dict", directory / "cmudict-en-us.dict",
                  fs::copy_options::overwrite_existing);
    ASSERT_TRUE(store_.installedModel("en-US"));
    // A link to an identical file is still not the installed file.
    fs::rename(directory / "cmudict-en-us.dict", home_.path() / "elsewhere.dict");
    fs::create_symlink(home_.path() / "elsewhere.dict", directory / "cmudict-en-us.dict");
    EXPECT_EQ(store_.installedModel("en-US"), std::nullopt);
    fs::remove(directory / "cmudict-en-us.dict");
    fs::rename(home_.path() / "elsewhere.dict", directory / "cmudict-en-us.dict");
    ASSERT_TRUE(store_.installedModel("en-US"));

    auto manifest = cli::Json::parse(manifestText);
    auto withChange = [&](auto change) {
        auto changed = manifest;
        change(changed);
        writeFile(directory / "model.json", changed.dump());
        return store_.installedModel("en-US");
    };
    EXPECT_EQ(withChange([](cli::Json& json) { json["locale"] = "en-GB"; }), std::nullopt);
    EXPECT_EQ(withChange([](cli::Json& json) { json["files"][0]["path"] = "../../diagnostics.json"; }), std::nullopt);
    EXPECT_EQ(withChange([](cli::Json& json) { json["components"]["dictionary"] = "/etc/passwd"; }), std::nullopt);
    EXPECT_EQ(withChange([](cli::Json& json) { json["components"]["dictionary"] = "missing.dict"; }), std::nullopt);
    EXPECT_EQ(withChange([](cli::Json& json) { json["files"] = cli::Json::array(); }), std::nullopt);
    EXPECT_EQ(withChange([](cli::Json& json) { json.erase("engine"); }), std::nullopt);
    writeFile(directory / "model.json", manifestText.substr(0, manifestText.size() / 2));
    EXPECT_EQ(store_.installedModel("en-US"), std::nullopt);
    restore();
    ASSERT_TRUE(store_.installedModel("en-US"));

    fs::remove(directory / "model.json");
    EXPECT_EQ(store_.installedModel("en-US"), std::nullopt);
    ASSERT_EQ(::mkfifo((directory / "model.json").c_str(), 0600), 0);
    EXPECT_EQ(store_.installedModel("en-US"), std::nullopt) << "and does not wait for a writer";
    EXPECT_TRUE(store_.recordedLocales().empty());
}

TEST_F(SpeechModelStoreTest, LocaleFoldersAreOnlyEverNamedByLocales) {
    EXPECT_EQ(store_.localeDirectory("en_US"), store_.modelsDirectory() / "en-US");
    EXPECT_THROW(store_.localeDirectory("../../etc"), std::invalid_argument);
    EXPECT_EQ(store_.installedModel("../en-US"), std::nullopt);
}

}  // namespace
}  // namespace harkline
