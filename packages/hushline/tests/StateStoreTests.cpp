#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <functional>

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

// Reading again under the lock is walked by the concurrent mutes of the process tests.
TEST_F(StateStoreTest, WritesTheFileOtherToolsReadAndKeepsTheOldOneWhenAWriteFails) {
    StateStore store = makeStore();
    const AudioStateSnapshot full{40, "AC/DC 扬声器", double{0.63F}, 1.0, 0.0, false, 60.0};
    ASSERT_TRUE(store.save(full));
    EXPECT_EQ(readFile(file_), R"({"deviceID":40,"deviceName":"AC\/DC 扬声器","mainVolume":0.6299999952316284,)"
                               R"("leftVolume":1,"rightVolume":0,"muted":false,"createdAt":60})");
    EXPECT_EQ(makeStore().load(), full);
    const AudioStateSnapshot bare{.deviceID = 4294967295U, .createdAt = -12.25};
    ASSERT_TRUE(store.save(bare));
    EXPECT_EQ(readFile(file_), R"({"deviceID":4294967295,"createdAt":-12.25})");
    EXPECT_EQ(makeStore().load(), bare);

    // A failed write is logged and leaves the old file; the snapshot is held for the rest of the process.
    EXPECT_FALSE(store.save(AudioStateSnapshot{.deviceID = 8, .mainVolume = std::nan(""), .createdAt = 2}));
    EXPECT_EQ(readFile(file_), R"({"deviceID":4294967295,"createdAt":-12.25})");
    EXPECT_EQ(store.load()->deviceID, 8U);
    EXPECT_EQ(log_.lines().at(0).rfind("ERROR 写入静音快照失败: ", 0), 0U) << log_.lines()[0];
}

// Nulls mean absent, unknown keys are ignored, and a value no device could give costs only itself.
TEST_F(StateStoreTest, AnUnusableOptionalValueIsDroppedAlone) {
    for (const std::string& bytes :
         {std::string(R"({"extra":{"deep":[1,2]},"createdAt":5e2,"deviceName":null,"muted":null,"deviceID":9,)"
                      R"("mainVolume":1,"deviceId":"other"})"),
          std::string(R"({"deviceID":9,"createdAt":500,"deviceName":3,"leftVolume":-0.5,"rightVolume":1e300,"muted":1,)"
                      R"("mainVolume":1})"),
          std::string(R"({"deviceID":9,"createdAt":500,"leftVolume":NaN,"rightVolume":Infinity,"muted":"no",)"
                      R"("mainVolume":1,"deviceName":-Infinity})"),
          std::string(R"({"deviceID":9,"createdAt":500,"leftVolume":"0.5","rightVolume":-NaN,"mainVolume":1})")}) {
        writeFile(file_, bytes);
        EXPECT_EQ(makeStore().load(), (AudioStateSnapshot{.deviceID = 9, .mainVolume = 1.0, .createdAt = 500})) << bytes;
    }
    // Only bare words are read as null, never text inside a string.
    writeFile(file_, R"({"deviceID":9,"createdAt":500,"deviceName":"NaN \"Infinity\" -NaN"})");
    EXPECT_EQ(makeStore().load()->deviceName, R"(NaN "Infinity" -NaN)");
}

TEST_F(StateStoreTest, AnythingButASnapshotIsIgnoredSilentlyAndLeftInPlace) {
    const std::vector<std::string> broken = {
        "", R"({"deviceID":7,"createdAt":1)" /* truncated */, std::string("\x00\x9f\xff garbage", 11), "[]", "null", "NaN",
        R"({"createdAt":1})", R"({"deviceID":7})", R"({"deviceID":null,"createdAt":1})", R"({"deviceID":"7","createdAt":1})",
        R"({"deviceID":-7,"createdAt":1})", R"({"deviceID":7.5,"createdAt":1})", R"({"deviceID":4294967296,"createdAt":1})",
        R"({"deviceID":7,"createdAt":"2001-01-01T00:00:00Z"})", R"({"deviceID":7,"createdAt":1e999})",
        R"({"deviceID":7,"createdAt":NaN})", "{\"deviceID\":7,\"createdAt\":1,\"deviceName\":\"\xff\"}",
        // A whole snapshot, but padded beyond any real one.
        R"({"deviceID":7,"createdAt":1})" + std::string(StateStore::largestReadableFile, ' '),
    };
    for (const std::string& bytes : broken) {
        writeFile(file_, bytes);
        EXPECT_EQ(makeStore().load(), std::nullopt) << bytes.substr(0, 80);
        EXPECT_EQ(readFile(file_), bytes);
    }

    // Not a regular file: a folder, and a FIFO that nobody writes (reading it must not block).
    for (const auto& make : std::vector<std::function<void()>>{[&] { std::filesystem::create_directory(file_); },
                                                               [&] { ASSERT_EQ(mkfifo(file_.c_str(), 0600), 0); }, [] {}}) {
        std::filesystem::remove(file_);
        make();
        EXPECT_EQ(makeStore().load(), std::nullopt);
    }

    EXPECT_TRUE(log_.lines().empty());
}

}  // namespace
}  // namespace hushline
