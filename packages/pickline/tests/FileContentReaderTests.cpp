#include <filesystem>
#include <tuple>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pickline/FileReader/FileContentReader.h"
#include "test-support/TemporaryHome.h"

namespace pickline {
namespace {

using testsupport::writeFile;

class FileContentReaderTest : public ::testing::Test {
protected:
    std::string at(const std::string& name) const { return (folder.path() / name).string(); }
    std::string url(const std::string& encodedName) const { return "file://" + folder.path().string() + "/" + encodedName; }

    testsupport::TemporaryHome folder;
};

TEST_F(FileContentReaderTest, ReadsSmallTextFilesByExtensionAndSizeAsUtf8OrElseLatin1) {
    const std::nullopt_t unread = std::nullopt;
    for (const auto& [name, bytes, content] : std::vector<std::tuple<std::string, std::string, std::optional<std::string>>>{
             {"notes.txt", "plain text\n", "plain text\n"},
             {"README.MD", "# upper-case extension\n", "# upper-case extension\n"},
             {".gitignore", "build/\n", "build/\n"},
             {"empty.json", "", ""},  // present, not absent
             {"limit.log", std::string(51200, 'a'), std::string(51200, 'a')},
             {"over.log", std::string(51201, 'a'), unread},
             {"picture.png", "\x89PNG\r\n", unread},
             {"Makefile", "all:\n", unread},
             {"trailing.", "dot\n", unread},
             {"legacy.txt", "caf\xe9 \xa3" "5", "café £5"},
             {"utf8.txt", "café ✓ 🙂", "café ✓ 🙂"},
             {"overlong.txt", "\xc0\xaf", "\xc3\x80\xc2\xaf"},  // an overlong "/" is not UTF-8
             {"surrogate.txt", "\xed\xa0\x80", "\xc3\xad\xc2\xa0\xc2\x80"}}) {  // neither is an encoded surrogate
        writeFile(at(name), bytes);
        EXPECT_EQ(FileContentReader::readContent(at(name)), content) << name;
    }
    std::filesystem::create_directory(at("folder.txt"));
    EXPECT_EQ(FileContentReader::readContent(at("folder.txt")), std::nullopt);
    EXPECT_EQ(FileContentReader::readContent(at("missing.txt")), std::nullopt);

    // Special files are never read (a pipe would block); links are followed like any path.
    ASSERT_EQ(mkfifo(at("pipe.txt").c_str(), 0600), 0);
    EXPECT_EQ(FileContentReader::readContent(at("pipe.txt")), std::nullopt);
    EXPECT_EQ(FileContentReader::readContent("/dev/null"), std::nullopt);
    std::filesystem::create_symlink(at("notes.txt"), at("link.md"));
    std::filesystem::create_symlink(at("nowhere.md"), at("dangling.md"));
    EXPECT_EQ(FileContentReader::readContent(at("link.md")), "plain text\n");
    EXPECT_EQ(FileContentReader::readContent(at("dangling.md")), std::nullopt);
}

// Spaces, UTF-8 and raw bytes in names are walked by the desktop tests.
TEST_F(FileContentReaderTest, MakesOneEntryPerPathWithItsFileURL) {
    writeFile(at("100%#?.md"), "marks");
    std::filesystem::create_directory(at("sub dir"));
    EXPECT_EQ(FileContentReader::createFileInfos({at("100%#?.md"), at("sub dir"), at("gone.txt")}),
              (std::vector<FileInfo>{{url("100%25%23%3F.md"), "marks"}, {url("sub%20dir/"), std::nullopt},
                                     {url("gone.txt"), std::nullopt}}));
    EXPECT_TRUE(FileContentReader::createFileInfos({}).empty());
}

}  // namespace
}  // namespace pickline
