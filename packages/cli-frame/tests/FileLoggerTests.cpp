#include <regex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace cli
