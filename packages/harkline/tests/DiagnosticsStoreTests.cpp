#include <thread>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "cli-frame/Testing/RecordingLogger.h"
#include "harkline/Diagnostics/DiagnosticsStore.h"
#include "harkline/Diagnostics/LogTail.h"
#include "test-support/TemporaryHome.h"

namespace harkline {
namespace {

using testsupport::TemporaryHome;
using testsupport::writeFile;

TEST(DiagnosticsStore, ConcurrentUpdatesAreAllKeptAndAFailedWriteIsLogged) {
    TemporaryHome home;
    auto path = home.path() / "diagnostics.json";
    DiagnosticsStore store(path, {});
    {
        std::jthread downloads([&] {
            for (int index = 0; index < 50; ++index) store.updateDownload(DownloadSnapshot{"en-US", index / 50.0, "downloading", 1});
        });
        for (int index = 0; index < 50; ++index) store.updateAssets(AssetsSnapshot{"en-US", "assets-downloading", false});
    }
    store.updateLogPath("/l");
    auto onDisk = DiagnosticsStore(path, {}).currentSnapshot();
    EXPECT_EQ(onDisk, store.currentSnapshot());
    EXPECT_TRUE(onDisk.download && onDisk.assets);

    cli::RecordingLogger log;
    writeFile(home.path() / "file", "x");
    DiagnosticsStore broken(home.path() / "file" / "diagnostics.json", log.logger());
    broken.updateLogPath("/l");
    EXPECT_EQ(broken.currentSnapshot().lastLogPath, "/l");
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(log.lines()[0].starts_with("ERROR 写入诊断信息失败: ")) << log.lines()[0];
}

TEST(LogTail, ReturnsTheLastPiecesSplitAtLineFeeds) {
    TemporaryHome home;
    auto path = home.path() / "x.log";
    writeFile(path, "a\nb\nc\n");
    EXPECT_EQ(readLogTail(path, 1), "");
    EXPECT_EQ(readLogTail(path, 2), "c\n");
    EXPECT_EQ(readLogTail(path, 3), "b\nc\n");
    writeFile(path, "no line feed");
    EXPECT_EQ(readLogTail(path, 1), "no line feed");

    // Pieces that straddle the backwards-reading blocks.
    std::string big;
    for (int line = 0; line < 20000; ++line) big += "line " + std::to_string(line) + " 日志\n";
    writeFile(path, big);
    EXPECT_EQ(readLogTail(path, 3), "line 19998 日志\nline 19999 日志\n");
    EXPECT_EQ(readLogTail(path, 100000), big);

    writeFile(path, "ok\nbad \xff\n");
    EXPECT_EQ(readLogTail(path, 5), std::nullopt);
    // A bad byte far before the tail, and a character cut at the end, count as much.
    writeFile(path, "bad \xff\n" + big);
    EXPECT_EQ(readLogTail(path, 2), std::nullopt);
    writeFile(path, big + "cut \xe6\x97");
    EXPECT_EQ(readLogTail(path, 1), std::nullopt);
    EXPECT_EQ(readLogTail(home.path() / "missing.log", 5), std::nullopt);
    std::filesystem::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(readLogTail(path, 1), std::nullopt) << "a FIFO is not waited on";
}

}  // namespace
}  // namespace harkline
