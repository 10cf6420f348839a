// The frame's files: the log, and files replaced whole.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cli-frame/Files/AtomicFile.h"
#include "cli-frame/Logging/FileLoggerWriter.h"
#include "cli-frame/Logging/LoggerFactory.h"
#include "test-support/ChildProcess.h"
#include "test-support/TemporaryHome.h"

namespace cli {
namespace {

using testsupport::readFile;
using testsupport::TemporaryHome;

// The log's lines, which all end with a line feed.
std::vector<std::string> logLines(const std::filesystem::path& path) {
    const std::string text = readFile(path);
    EXPECT_TRUE(text.ends_with('\n')) << "the log ends inside a line";
    return testsupport::splitLines(text);
}

// A new folder, appending behind earlier runs and where the log is are walked by every
// tool's process tests; here the exact stamp and the repair of text that is not UTF-8.
TEST(FileLogger, StampsEachLineAndRepairsInvalidUtf8) {
    TemporaryHome home;
    auto path = home.path() / "tool.log";
    LoggerFactory::makeLogger(path.string(), "harkline").error("third \xff");
    const auto lines = logLines(path);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\] \[ERROR\] third \xEF\xBF\xBD)")))
        << lines[0];
}

TEST(FileLogger, WritersSharingAFileFromManyThreadsKeepEveryLineWholeAndInOrder) {
    TemporaryHome home;
    auto path = (home.path() / "shared.log").string();
    auto first = FileLoggerWriter::open(path, "harkline");
    auto second = FileLoggerWriter::open(path, "harkline");
    ASSERT_TRUE(first && second);
    const std::string filler(500, 'y');
    std::vector<std::thread> threads;
    for (int index = 0; index < 4; ++index)
        threads.emplace_back([&, index] {
            auto& writer = index % 2 == 0 ? first : second;
            for (int line = 0; line < 250; ++line)
                writer->log(LogLevel::info, "t" + std::to_string(index) + " " + std::to_string(line) + " " + filler);
        });
    for (auto& thread : threads) thread.join();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    ASSERT_TRUE(first->flush(deadline));
    ASSERT_TRUE(second->flush(deadline));

    std::vector<int> next(4, 0);
    auto lines = logLines(path);
    ASSERT_EQ(lines.size(), 1000u);
    const std::regex shape(R"(\[[^\]]+\] \[INFO\] t(\d) (\d+) y{500})");
    for (const auto& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, shape)) << line.substr(0, 80);
        int thread = std::stoi(match[1]);
        EXPECT_EQ(std::stoi(match[2]), next[static_cast<std::size_t>(thread)]++);
    }
}

TEST(FileLogger, APathThatCannotBeOpenedSaysSoOnStandardErrorAndDiscards) {
    TemporaryHome home;
    testsupport::writeFile(home.path() / "plain-file", "x");
    testing::internal::CaptureStderr();
    auto logger = LoggerFactory::makeLogger((home.path() / "plain-file" / "x.log").string(), "hushline");
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(message.starts_with("hushline logger 初始化失败: ")) << message;
    EXPECT_TRUE(message.ends_with("\n"));
    EXPECT_EQ(logger.describeLocation(), std::nullopt);
    logger.info("dropped");  // must not crash
}

TEST(AtomicFile, ReplacesTheWholeFileOrThrowsAndKeepsTheOldOneLeavingNoTemporaryBehind) {
    TemporaryHome home;
    auto path = home.path() / "state.json";
    writeFileAtomically(path, std::string(100000, 'a'));
    writeFileAtomically(path, "old");
    EXPECT_EQ(readFile(path), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home.path()), {}), 1);
    // A folder in the way of the rename: everything up to the rename succeeds.
    std::filesystem::create_directories(home.path() / "blocked" / "inside");
    EXPECT_THROW(writeFileAtomically(home.path() / "blocked", "new"), std::system_error);
    EXPECT_THROW(writeFileAtomically(path / "below-a-file", "new"), std::system_error);
    EXPECT_EQ(readFile(path), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home.path()), {}), 2);
}

TEST(AtomicFile, TemporariesOfKilledWritersGoWithTheNextWriteAndThoseOfLiveOnesStay) {
    TemporaryHome home;
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
    auto live = std::to_string(getpid());
    auto place = [&](const std::string& name, std::filesystem::file_time_type::duration age = {}) {
        testsupport::writeFile(home.path() / name, "partial");
        std::filesystem::last_write_time(home.path() / name, std::filesystem::file_time_type::clock::now() - age);
    };
    place(".state.json." + std::to_string(gone) + ".a1B2c3");         // its writer is gone
    place(".other.json." + std::to_string(gone) + ".d4E5f6");         // another file's, same folder
    place(".state.json." + live + ".g7H8i9", std::chrono::minutes(2));  // older than any write takes
    place(".state.json.j0K1l2", std::chrono::minutes(2));              // from before owners were named
    place(".state.json." + live + ".m3N4o5");                          // being written right now
    place(".state.json.lock", std::chrono::minutes(2));                // not a temporary at all
    place(".notes.txt.q6R7s8", std::chrono::minutes(2));               // nor is this, whose owner is unknown

    writeFileAtomically(home.path() / "state.json", "{}");
    std::set<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(home.path())) left.insert(entry.path().filename());
    EXPECT_EQ(left, (std::set<std::string>{"state.json", ".state.json." + live + ".m3N4o5", ".state.json.lock",
                                           ".notes.txt.q6R7s8"}));
}

}  // namespace
}  // namespace cli
