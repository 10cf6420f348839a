// The detector over the in-memory accessibility platform, and the file reader it reports files with.
#include <filesystem>
#include <sstream>
#include <tuple>

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "pickline/Detection/SelectionDetector.h"
#include "pickline/FileReader/FileContentReader.h"
#include "pickline/Platform/Testing/InMemoryAccessibilityPlatform.h"
#include "test-support/TemporaryHome.h"

namespace pickline {
namespace {

using Platform = InMemoryAccessibilityPlatform;
using testsupport::writeFile;

constexpr char noneLine[] = R"({"payload":{"content":null,"selectionType":"none"},"type":"result"})" "\n";

class SelectionDetectorTest : public ::testing::Test {
protected:
    SelectionDetectorTest() { platform.frontmost = FrontmostApplication{"editor", false}; }

    // Runs one detection; returns the exit status and leaves the line in `output`.
    int detect() {
        output.str("");
        CLIMessageEmitter emitter(output);
        return SelectionDetector(platform, emitter).detectAndEmit();
    }
    nlohmann::json line() const { return nlohmann::json::parse(output.str()); }
    void focusWithSelectedText(const std::string& text) { platform.focused = platform.element(text); }
    // The content of a detection that must succeed: null when nothing is selected.
    nlohmann::json detectedContent() {
        EXPECT_EQ(detect(), 0);
        return line()["payload"]["content"];
    }
    // The text reported for a selection of `text`.
    std::string reported(const std::string& text) {
        focusWithSelectedText(text);
        return detectedContent().get<std::string>();
    }

    const FrontmostApplication fileManager{"file-manager", true};
    Platform platform;
    std::ostringstream output;
};

// The lines of these two errors are pinned by the desktop tests.
TEST_F(SelectionDetectorTest, ChecksTrustBeforeAnythingElse) {
    platform.trustAnswers = {false};
    platform.frontmost = fileManager;
    platform.fileSelection = {"/etc", {"hostname"}, std::nullopt};
    EXPECT_EQ(detect(), 1);
    EXPECT_EQ(line()["payload"]["code"], "ACCESSIBILITY_DENIED");
    platform.trustAnswers = {true};
    platform.frontmost.reset();
    EXPECT_EQ(detect(), 1);
    EXPECT_EQ(line()["payload"]["code"], "NO_FRONTMOST_APP");

    // Trust lost between the first check and text detection.
    platform = Platform{};
    platform.frontmost = FrontmostApplication{"editor", false};
    platform.trustAnswers = {true, false};
    focusWithSelectedText("never read");
    EXPECT_EQ(detect(), 1);
    EXPECT_EQ(line(), nlohmann::json::parse(R"({"type":"error","payload":{"code":"ACCESSIBILITY_DENIED",)"
                                            R"("message":"Failed to get accessibility element. Accessibility )"
                                            R"(permission may not be granted."}})"));
}

TEST_F(SelectionDetectorTest, ReportsTheFileManagersSelectionAsPathsThatExist) {
    testsupport::TemporaryHome folder;
    testsupport::writeFile(folder.path() / "a note.txt", "hello/world");
    testsupport::writeFile(folder.path() / "photo.png", "png");
    // A name that is not UTF-8 shows its repaired form (a desktop entry's Name: the desktop tests).
    testsupport::writeFile(folder.path() / "caf\xe9 old.log", "x");
    testsupport::writeFile(folder.path() / "twin\xe9", "");
    testsupport::writeFile(folder.path() / "twin\xe8", "");
    platform.frontmost = fileManager;
    platform.fileSelection = {folder.path().string(),
                              {"a note.txt", "", "caf\xef\xbf\xbd old.log (invalid encoding)", "photo.png", "gone.txt",
                               "twin\xef\xbf\xbd", "../a note.txt"}, std::nullopt};
    focusWithSelectedText("ignored while files are selected");

    EXPECT_EQ(detect(), 0);
    auto prefix = "file://" + folder.path().string();
    // Items that match no entry, or several, are left out.
    EXPECT_EQ(line(), nlohmann::json::parse(R"({"type":"result","payload":{"selectionType":"files","content":[)"
                                            R"({"path":")" + prefix + R"(/a%20note.txt","text":"hello/world"},)"
                                            R"({"path":")" + prefix + R"(/caf%E9%20old.log","text":"x"},)"
                                            R"({"path":")" + prefix + R"(/photo.png"}]}})"));
    EXPECT_NE(output.str().find(R"("file:\/\/)"), std::string::npos);

    // An entry that shows another's name: one of the two selected is no file selection at
    // all, both are each reported once; a FIFO named like an entry is not waited on.
    testsupport::writeFile(folder.path() / "readme.txt", "read me");
    testsupport::writeFile(folder.path() / "imposter.desktop", "[Desktop Entry]\nName=readme.txt\n");
    ASSERT_EQ(::mkfifo((folder.path() / "fifo.desktop").c_str(), 0600), 0);
    platform.fileSelection = {folder.path().string(), {"readme.txt"}, std::nullopt};
    platform.focused.reset();
    EXPECT_EQ(detect(), 0);
    EXPECT_EQ(output.str(), noneLine);
    platform.fileSelection = {folder.path().string(), {"readme.txt", "photo.png", "readme.txt"}, std::nullopt};
    EXPECT_EQ(detect(), 0);
    EXPECT_EQ(line(), nlohmann::json::parse(R"({"type":"result","payload":{"selectionType":"files","content":[)"
                                            R"({"path":")" + prefix + R"(/imposter.desktop"},)"
                                            R"({"path":")" + prefix + R"(/photo.png"},)"
                                            R"({"path":")" + prefix + R"(/readme.txt","text":"read me"}]}})"));
}

TEST_F(SelectionDetectorTest, FileManagerFailureIsAnInternalErrorAndNoSelectionFallsBackToText) {
    platform.frontmost = fileManager;
    platform.fileSelection.failure = "The file manager did not answer";
    focusWithSelectedText("renamed item");
    EXPECT_EQ(detect(), 1);
    EXPECT_EQ(line(), nlohmann::json::parse(R"({"type":"error","payload":{"code":"INTERNAL_ERROR",)"
                                            R"("message":"The file manager did not answer"}})"));

    platform.fileSelection = {"/etc", {"", ""}, std::nullopt};  // only empty pieces: nothing selected
    EXPECT_EQ(detectedContent(), "renamed item");

    // Another application's answer is never asked for files; without a focused element
    // nothing is selected.
    platform.frontmost = FrontmostApplication{"editor", false};
    platform.fileSelection.items = {"hostname"};
    EXPECT_EQ(detect(), 0);
    EXPECT_EQ(line()["payload"]["selectionType"], "text");
    platform.focused.reset();
    EXPECT_EQ(detectedContent(), nullptr);
}

TEST_F(SelectionDetectorTest, SearchesThreeLevelsAndTenChildrenOfEachButNoMore) {
    // A chain of `levels` elements below the focused one, the last holding the selection.
    auto focusAbove = [&](int levels, const std::string& text) {
        Element node = platform.element(text);
        for (int level = 0; level < levels; ++level) node = platform.element(std::nullopt, {platform.element(""), node});
        platform.focused = node;
    };
    focusAbove(3, "third level");
    EXPECT_EQ(detectedContent(), "third level");

    focusAbove(4, "fourth level");
    EXPECT_EQ(detectedContent(), nullptr);

    // The first match in document order wins, reading a child before its own children.
    Element nested = platform.element("", {platform.element("grandchild")});
    platform.focused =
        platform.element("", {platform.element(std::nullopt, {nested}), platform.element("second child")});
    EXPECT_EQ(detectedContent(), "grandchild");

    // Only the first ten children of an element are examined.
    std::vector<Element> children;
    for (int index = 0; index < 10; ++index) children.push_back(platform.element(""));
    Element eleventh = platform.element("eleventh child");
    children.push_back(eleventh);
    platform.focused = platform.element(std::nullopt, children);
    platform.selectedTextReads.clear();
    EXPECT_EQ(detectedContent(), nullptr);
    EXPECT_EQ(platform.selectedTextReads.size(), 11u);  // the focused element and ten children
    EXPECT_EQ(std::count(platform.selectedTextReads.begin(), platform.selectedTextReads.end(), eleventh), 0);
}

TEST_F(SelectionDetectorTest, CutsLongTextAfter2000UserPerceivedCharacters) {
    auto repeat = [](const std::string& piece, int count) {
        std::string text;
        for (int index = 0; index < count; ++index) text += piece;
        return text;
    };
    // Two-byte letters, a letter with a combining accent, a flag of two code points and
    // an emoji with a skin tone: each is one character however many bytes it takes.
    for (std::string character : {"a", "é", "e\u0301", "🇫🇷", "👍🏽", "中"}) {
        SCOPED_TRACE(character);
        EXPECT_EQ(reported(repeat(character, 2001)), repeat(character, 2000));
        EXPECT_EQ(reported(repeat(character, 2000)), repeat(character, 2000));
    }
    EXPECT_EQ(reported(std::string(1999, 'x') + "e\u0301z"), std::string(1999, 'x') + "e\u0301");
}

TEST_F(SelectionDetectorTest, WritesAFixedErrorLineWhenTheTextCannotBeEncoded) {
    focusWithSelectedText("bad \xff byte");
    detect();
    EXPECT_EQ(output.str(), R"({"type":"error","payload":{"code":"INTERNAL_ERROR","message":"Failed to encode output"}})" "\n");
}

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
