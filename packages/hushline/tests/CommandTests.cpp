// The commands in this process over in-memory hardware, for what a real server cannot be
// made to do: devices without a name, mute switch or main volume, refused writes, a lock
// held by another process; and the store's file, as other tools write it.
#include <fcntl.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "audio-hardware/Testing/InMemoryAudioHardware.h"
#include "hushline/Audio/StateStore.h"
#include "hushline/Commands/CommandRouter.h"
#include "cli-frame/Testing/RecordingLogger.h"
#include "test-support/TemporaryHome.h"

namespace hushline {
namespace {

using audiohw::Device;
using testsupport::readFile;
using testsupport::writeFile;
using namespace std::chrono_literals;

constexpr const char* kMuteFailed =
    R"({"type":"error","payload":{"code":"apple_audio_mute_failed","message":"系统静音失败。","logPath":"/logs/hushline.log"}})" "\n";

// Speakers with a mute switch, a main volume at 0.75 and channels at 0.75 and 0.5.
Device speakers(audiohw::DeviceID id = 40) {
    return audiohw::InMemoryAudioHardware::output(id, "Speakers", "speakers", {0.75F, 0.5F});
}
// The device without its mute switch, and without its main volume too unless `keepMainVolume`.
Device withoutSwitch(Device device, bool keepMainVolume = true) {
    device.muted.reset();
    if (!keepMainVolume) device.mainVolume.reset();
    return device;
}

class CommandTest : public ::testing::Test {
protected:
    CommandTest() { useDevice(speakers()); }

    // Puts the device in place of one with its id and makes it the default output device.
    void useDevice(const Device& device) {
        hardware_->update([&](audiohw::HardwareSnapshot& state) {
            std::erase_if(state.devices, [&](const Device& each) { return each.id == device.id; });
            state.devices.push_back(device);
            state.defaultOutput = device.id;
        });
    }

    // The line the command wrote, with a store freshly loaded from the file as a new process would.
    std::string run(std::optional<std::string> word) {
        const auto output = home_.path() / "output";
        const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        auto logger = log_.logger();
        runCommand({cli::CLIMessageEmitter(logger, "/logs/hushline.log", fd), logger,
                    std::make_shared<StateStore>(file_, logger, 20ms), AudioController(hardware_, logger)}, word);
        ::close(fd);
        return readFile(output);
    }

    std::shared_ptr<audiohw::InMemoryAudioHardware> hardware_ = std::make_shared<audiohw::InMemoryAudioHardware>();
    testsupport::TemporaryHome home_;
    std::filesystem::path file_ = home_.dataHome() / "state.json";
    cli::RecordingLogger log_;
};

TEST_F(CommandTest, WhileAnotherProcessHoldsTheLockNothingIsTouched) {
    const std::string pending = R"({"deviceID":40,"muted":false,"createdAt":1})";
    writeFile(file_, pending);
    const StateLock held = StateLock::acquire(file_.string() + ".lock", 0ms);
    EXPECT_EQ(run("mute"), kMuteFailed);
    EXPECT_EQ(run("restore"), R"({"type":"error","payload":{"code":"apple_audio_restore_failed",)"
                              R"("message":"恢复系统音量失败。","logPath":"/logs/hushline.log","details":{"deviceId":0,)"
                              R"("usedSnapshot":false,"fallbackApplied":false}}})"
                              "\n");
    EXPECT_TRUE(hardware_->writes().empty());
    EXPECT_EQ(readFile(file_), pending);
    EXPECT_TRUE(log_.lines().at(1).starts_with("ERROR 无法取得静音快照锁: another process held " + file_.string() + ".lock"));
}

// A refused write fails the mute without trying another means; as it changed nothing, the
// mute takes its record back and leaves an older one alone.
TEST_F(CommandTest, ARefusedMuteTriesNothingElseAndLeavesTheStoreAsItWas) {
    hardware_->refuseWrites("mute 40");
    const std::string otherDevice = R"({"deviceID":41,"muted":false,"createdAt":1})";
    writeFile(file_, otherDevice);
    EXPECT_EQ(run("mute"), kMuteFailed);
    EXPECT_EQ(readFile(file_), otherDevice);
    std::filesystem::remove(file_);
    EXPECT_EQ(run("mute"), kMuteFailed);
    EXPECT_FALSE(std::filesystem::exists(file_));
    useDevice(withoutSwitch(speakers(41)));
    hardware_->refuseWrites("volumes 41 main");
    EXPECT_EQ(run("mute"), kMuteFailed);
    EXPECT_TRUE(hardware_->writes().empty());
}

// Lines and the record leave out what the device cannot tell.
TEST_F(CommandTest, MuteUsesTheFirstMeansTheDeviceHasAndLinesLeaveOutWhatItCannotTell) {
    EXPECT_NE(run("mute").find(R"("method":"mute-property")"), std::string::npos);
    useDevice(withoutSwitch(speakers(41)));
    EXPECT_NE(run("mute").find(R"("method":"main-volume-zero")"), std::string::npos);
    useDevice(withoutSwitch(speakers(42), false));
    EXPECT_NE(run("mute").find(R"("method":"channel-volume-zero")"), std::string::npos);
    Device mono = withoutSwitch(audiohw::InMemoryAudioHardware::output(43, "Mono", "mono", {0.75F}), false);
    mono.name.reset();
    useDevice(mono);
    EXPECT_EQ(run("status"), R"({"type":"status","payload":{"stage":"audio-status","logPath":"/logs/hushline.log",)"
                             R"("data":{"deviceId":43,"leftVolume":0.75,"hasPendingSnapshot":true}}})" "\n");
    EXPECT_EQ(run("mute"), R"({"type":"status","payload":{"stage":"muted","logPath":"/logs/hushline.log","data":)"
                           R"({"deviceId":43,"method":"channel-volume-zero","previousVolumes":{"left":0.75}}}})" "\n");
    EXPECT_EQ(readFile(file_).rfind(R"({"deviceID":43,"leftVolume":0.75,"createdAt":)", 0), 0U) << readFile(file_);
    EXPECT_TRUE(log_.contains("INFO 静音完成 device=unknown 方法=channel-volume-zero"));
    EXPECT_EQ(run("restore"), R"({"type":"status","payload":{"stage":"restored","logPath":"/logs/hushline.log","data":)"
                              R"({"deviceId":43,"usedSnapshot":true,"fallbackApplied":false}}})" "\n");
    EXPECT_EQ(hardware_->writes(), (std::vector<std::string>{"mute 40 true", "volumes 41 main 0", "volumes 42 channels 0 0",
                                                             "volumes 43 channels 0", "volumes 43 channels 0.75"}));
    // The switch alone silenced the speakers.
    EXPECT_EQ(hardware_->state().device(40)->channelVolumes, (std::vector<float>{0.75F, 0.5F}));

    useDevice(withoutSwitch(audiohw::InMemoryAudioHardware::output(44, "Silent", "silent", {}), false));
    EXPECT_NE(run("mute").find(R"("code":"apple_audio_property_unavailable")"), std::string::npos);
}

TEST_F(CommandTest, ARestoreSaysWhatItCouldNotWriteAndTheSafetyVolumeGoesOnPastRefusals) {
    // A record holding nothing, and a device having nothing: the latter changes nothing either.
    useDevice(withoutSwitch(speakers(), false));
    writeFile(file_, R"({"deviceID":40,"createdAt":1})");
    EXPECT_NE(run("restore").find(R"("code":"apple_audio_property_unavailable","message":"当前输出设备不支持音量或静音控制。",)"
                                  R"("logPath":"/logs/hushline.log","details":{"deviceId":40,"deviceName":"Speakers",)"
                                  R"("usedSnapshot":true,"fallbackApplied":true}}})"), std::string::npos);
    useDevice(withoutSwitch(audiohw::InMemoryAudioHardware::output(44, "Silent", "silent", {}), false));
    writeFile(file_, R"({"deviceID":44,"mainVolume":0.3,"leftVolume":0.3,"rightVolume":0.3,"muted":false,"createdAt":1})");
    EXPECT_NE(run("restore").find(R"(不支持音量或静音控制。","logPath":"/logs/hushline.log","details":{"deviceId":44,)"
                                  R"("deviceName":"Silent","usedSnapshot":true,"fallbackApplied":false}}})"),
              std::string::npos);

    useDevice(speakers());
    hardware_->refuseWrites("mute 40");
    hardware_->refuseWrites("volumes 40 channels");
    writeFile(file_, R"({"deviceID":40,"deviceName":"Speakers","mainVolume":0.2,"leftVolume":0.2,"rightVolume":0.2,)"
                     R"("muted":false,"createdAt":1})");
    log_.clear();
    EXPECT_EQ(run("restore"), R"({"type":"error","payload":{"code":"apple_audio_mute_failed","message":"系统静音失败。",)"
                              R"("logPath":"/logs/hushline.log","details":{"deviceId":40,"deviceName":"Speakers",)"
                              R"("usedSnapshot":true,"fallbackApplied":true}}})" "\n");
    // The first restore's safety volume on the channels, then only the main volume took.
    EXPECT_EQ(hardware_->writes(), (std::vector<std::string>{"volumes 40 channels 0.5 0.5", "volumes 40 main 0.5"}));
    EXPECT_EQ(log_.lines(), (std::vector<std::string>{"INFO 执行 restore 指令", "INFO 准备恢复系统音量",
                                                      "ERROR 恢复失败：系统静音失败。", "INFO 尝试应用 50% 安全音量作为兜底",
                                                      "ERROR 清除静音失败：系统静音失败。",
                                                      "ERROR 设置声道音量失败：系统静音失败。", "DEBUG 写入消息 type=error"}));

    hardware_->refuseWrites("volumes 40 main");
    EXPECT_NE(run("restore").find(R"("usedSnapshot":false,"fallbackApplied":false)"), std::string::npos);
    EXPECT_TRUE(log_.contains("ERROR 设置主音量失败：系统静音失败。"));
}

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
