#include <sys/stat.h>

#include <cmath>
#include <filesystem>

#include <gtest/gtest.h>

#include "hushline/Audio/StateStore.h"
#include "cli-frame/Testing/RecordingLogger.h"
#include "test-support/TemporaryHome.h"

namespace hushline {
namespace {

using testsupport::readFile;
using testsupport::writeFile;

class StateStoreTest : public ::testing::Test {
protected:
    StateStore makeStore() { return StateStore(file_, log_.logger()); }

    testsupport::TemporaryHome home_;
    std::filesystem::path file_ = home_.dataHome() / "tessaryn" / "system-audio-cli" / "state.json";
    cli::RecordingLogger log_;
};

TEST_F(StateStoreTest, WritesTheSnapshotCompactlyInFieldOrderWithEscapedSlashes) {
    StateStore store = makeStore();
    const AudioStateSnapshot full{40, "AC/DC 扬声器", double{0.63F}, 1.0, 0.0, false, 60.0};
    ASSERT_TRUE(store.save(full));
    EXPECT_EQ(readFile(file_), R"({"deviceID":40,"deviceName":"AC\/DC 扬声器","mainVolume":0.6299999952316284,)"
                               R"("leftVolume":1,"rightVolume":0,"muted":false,"createdAt":60})");
    EXPECT_EQ(makeStore().load(), full);

    const AudioStateSnapshot bare{4294967295U, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                  -12.25};
    ASSERT_TRUE(store.save(bare));
    EXPECT_EQ(readFile(file_), R"({"deviceID":4294967295,"createdAt":-12.25})");
    EXPECT_EQ(store.load(), bare);
    EXPECT_EQ(makeStore().load(), bare);

    // Replaced by rename: nothing but the file is left in its folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file_.parent_path()), {}), 1);
    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(StateStoreTest, ReadsTheFileOnlyWhenConstructed) {
    writeFile(file_, R"({"deviceID":7,"createdAt":1,"muted":true})");
    StateStore store = makeStore();
    std::filesystem::remove(file_);
    EXPECT_EQ(store.load(), (AudioStateSnapshot{.deviceID = 7, .muted = true, .createdAt = 1}));
}

TEST_F(StateStoreTest, LoadsNullsAsAbsentAndIgnoresUnknownKeys) {
    writeFile(file_, R"({"extra":{"deep":[1,2]},"createdAt":5e2,"deviceName":null,"muted":null,"deviceID":9,)"
                     R"("mainVolume":1,"deviceId":"other"})");
    EXPECT_EQ(makeStore().load(), (AudioStateSnapshot{.deviceID = 9, .mainVolume = 1.0, .createdAt = 500}));
}

TEST_F(StateStoreTest, AnythingButASnapshotIsIgnoredSilentlyAndLeftInPlace) {
    const std::vector<std::string> broken = {
        "",
        R"({"deviceID":7,"createdAt":1)",  // truncated
        std::string("\x00\x9f\xff garbage", 11),
        "[]",
        "null",
        "7",
        R"({"createdAt":1})",
        R"({"deviceID":7})",
        R"({"deviceID":null,"createdAt":1})",
        R"({"deviceID":"7","createdAt":1})",
        R"({"deviceID":-7,"createdAt":1})",
        R"({"deviceID":7.5,"createdAt":1})",
        R"({"deviceID":4294967296,"createdAt":1})",
        R"({"deviceID":7,"createdAt":"2001-01-01T00:00:00Z"})",
        R"({"deviceID":7,"createdAt":1e999})",
        R"({"deviceID":7,"createdAt":1,"deviceName":3})",
        R"({"deviceID":7,"createdAt":1,"mainVolume":"0.5"})",
        R"({"deviceID":7,"createdAt":1,"leftVolume":-0.5})",
        R"({"deviceID":7,"createdAt":1,"rightVolume":1e300})",
        R"({"deviceID":7,"createdAt":1,"muted":1})",
        "{\"deviceID\":7,\"createdAt\":1,\"deviceName\":\"\xff\"}",
        // A whole snapshot, but padded beyond any real one.
        R"({"deviceID":7,"createdAt":1})" + std::string(StateStore::largestReadableFile, ' '),
    };
    for (const std::string& bytes : broken) {
        writeFile(file_, bytes);
        EXPECT_EQ(makeStore().load(), std::nullopt) << bytes.substr(0, 80);
        EXPECT_EQ(readFile(file_), bytes);
    }

    // Not a regular file: a folder, and a FIFO that nobody writes (reading it must not block).
    std::filesystem::remove(file_);
    std::filesystem::create_directory(file_);
    EXPECT_EQ(makeStore().load(), std::nullopt);
    std::filesystem::remove(file_);
    ASSERT_EQ(mkfifo(file_.c_str(), 0600), 0);
    EXPECT_EQ(makeStore().load(), std::nullopt);
    std::filesystem::remove(file_);
    EXPECT_EQ(makeStore().load(), std::nullopt);

    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(StateStoreTest, AFailedWriteIsLoggedReportedAndLeavesTheOldFile) {
    const std::string old = R"({"deviceID":7,"createdAt":1})";
    writeFile(file_, old);
    StateStore store = makeStore();

    AudioStateSnapshot unencodable{.deviceID = 8, .mainVolume = std::nan(""), .createdAt = 2};
    EXPECT_FALSE(store.save(unencodable));
    EXPECT_EQ(readFile(file_), old);
    ASSERT_EQ(log_.lines().size(), 1U);
    EXPECT_EQ(log_.lines()[0].rfind("ERROR 写入静音快照失败: ", 0), 0U) << log_.lines()[0];

    // The folder cannot be made: its place is taken by a file.
    std::filesystem::remove_all(home_.dataHome());
    writeFile(home_.dataHome(), "not a folder");
    StateStore blocked = makeStore();
    EXPECT_FALSE(blocked.save(AudioStateSnapshot{.deviceID = 8}));
    EXPECT_EQ(blocked.load(), AudioStateSnapshot{.deviceID = 8});  // held for the rest of the process
    EXPECT_EQ(log_.lines().size(), 2U);
}

TEST_F(StateStoreTest, ClearDeletesTheFileAndLogsAtDebugWhenThereIsNone) {
    StateStore store = makeStore();
    ASSERT_TRUE(store.save(AudioStateSnapshot{.deviceID = 3}));
    store.clear();
    EXPECT_EQ(store.load(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(file_));
    EXPECT_TRUE(log_.lines().empty());

    store.clear();
    ASSERT_EQ(log_.lines().size(), 1U);
    EXPECT_EQ(log_.lines()[0].rfind("DEBUG 删除快照文件失败或不存在: ", 0), 0U) << log_.lines()[0];
}

}  // namespace
}  // namespace hushline
