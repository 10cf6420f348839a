// The controller over the in-memory hardware, for what a real server cannot be made to do:
// devices without a mute switch or main volume, refused writes, failing reads.
#include <gtest/gtest.h>

#include "audio-hardware/Testing/InMemoryAudioHardware.h"
#include "hushline/Audio/AudioController.h"
#include "cli-frame/Testing/RecordingLogger.h"

namespace hushline {
namespace {

using audiohw::Device;
using audiohw::InMemoryAudioHardware;
using Case = CLIError::Case;
using Writes = std::vector<std::string>;

template <typename... Line>
std::vector<std::string> lines(Line... each) {
    return {std::string(each)...};
}

constexpr audiohw::DeviceID kSpeakers = 40;
constexpr audiohw::DeviceID kHeadphones = 41;

// Speakers with a mute switch, a main volume and two channels at 0.63 and 0.4.
Device speakers(audiohw::DeviceID id = kSpeakers) {
    return InMemoryAudioHardware::output(id, "Speakers", "speakers", {0.63F, 0.4F});
}

Device withoutSwitch(Device device) {
    device.muted.reset();
    return device;
}

Device withOnlyChannels(Device device) {
    device.muted.reset();
    device.mainVolume.reset();
    return device;
}

struct Muted {
    AudioStateSnapshot snapshot;
    std::string method;
};

// Both steps of a mute, as the command takes them.
Muted mute(const AudioController& controller) {
    AudioStateSnapshot before = controller.stateBeforeMute();
    std::string method = controller.silence(before);
    return {std::move(before), std::move(method)};
}

class AudioControllerTest : public ::testing::Test {
protected:
    // Adds the device and makes it the default output device.
    void useDevice(const Device& device) {
        hardware_->update([&](audiohw::HardwareSnapshot& state) {
            state.devices.push_back(device);
            state.defaultOutput = device.id;
        });
    }

    Device present(audiohw::DeviceID id) const { return *hardware_->state().device(id); }

    Case muteFailure() {
        try {
            mute(controller_);
        } catch (const CLIError& error) {
            return error.errorCase();
        }
        ADD_FAILURE() << "mute() did not fail";
        return Case::commandMissing;
    }

    std::shared_ptr<InMemoryAudioHardware> hardware_ = std::make_shared<InMemoryAudioHardware>();
    cli::RecordingLogger log_;
    // 2001-01-01T00:01:00Z
    AudioController controller_{hardware_, log_.logger(),
                                [] { return std::chrono::system_clock::time_point(std::chrono::seconds(978307260)); }};
};

TEST_F(AudioControllerTest, MuteRecordsTheStateFirstThenUsesTheFirstMeansTheDeviceHas) {
    useDevice(speakers());
    Muted outcome = mute(controller_);
    EXPECT_EQ(outcome.method, "mute-property");
    EXPECT_EQ(outcome.snapshot, (AudioStateSnapshot{kSpeakers, "Speakers", double{0.63F}, double{0.63F}, double{0.4F},
                                                    false, 60.0}));
    EXPECT_EQ(log_.lines(), lines("INFO 准备静音默认输出设备", "INFO 静音完成 device=Speakers 方法=mute-property"));

    useDevice(withoutSwitch(speakers(41)));
    EXPECT_EQ(mute(controller_).method, "main-volume-zero");
    useDevice(withOnlyChannels(speakers(42)));
    EXPECT_EQ(mute(controller_).method, "channel-volume-zero");
    Device mono = withOnlyChannels(InMemoryAudioHardware::output(43, "Mono", "mono", {0.7F}));
    mono.name.reset();
    useDevice(mono);
    outcome = mute(controller_);
    EXPECT_EQ(outcome.method, "channel-volume-zero");
    EXPECT_EQ(outcome.snapshot.rightVolume, std::nullopt);
    EXPECT_EQ(log_.lines().back(), "INFO 静音完成 device=unknown 方法=channel-volume-zero");
    EXPECT_EQ(hardware_->writes(),
              (Writes{"mute 40 true", "volumes 41 main 0", "volumes 42 channels 0 0", "volumes 43 channels 0"}));

    // Volumes of the muted devices are untouched where the switch did it.
    EXPECT_EQ(present(kSpeakers).channelVolumes, (std::vector<float>{0.63F, 0.4F}));
    useDevice(withOnlyChannels(InMemoryAudioHardware::output(44, "Silent", "silent", {})));
    EXPECT_EQ(muteFailure(), Case::propertyUnavailable);
}

TEST_F(AudioControllerTest, ARefusedWriteFailsTheMuteWithoutTryingAnotherMeans) {
    useDevice(speakers());
    hardware_->refuseWrites("mute 40");
    EXPECT_EQ(muteFailure(), Case::muteFailed);
    useDevice(withoutSwitch(speakers(kHeadphones)));
    hardware_->refuseWrites("volumes 41 main");
    EXPECT_EQ(muteFailure(), Case::muteFailed);
    EXPECT_TRUE(hardware_->writes().empty());
    EXPECT_EQ(log_.lines().back(), "INFO 准备静音默认输出设备");
}

TEST_F(AudioControllerTest, WithoutADefaultOutputDeviceNothingIsTouched) {
    const AudioStateSnapshot snapshot{kSpeakers, "Speakers", 0.5, 0.5, 0.5, false, 1.0};
    auto expectNoDevice = [&] {
        EXPECT_EQ(muteFailure(), Case::deviceUnavailable);
        EXPECT_EQ(controller_.currentState(), (AudioStateSnapshot{.createdAt = 60.0}));
        const RestoreOutcome withSnapshot = controller_.restore(snapshot);
        EXPECT_EQ(withSnapshot.deviceID, 0U);
        EXPECT_TRUE(withSnapshot.usedSnapshot);
        EXPECT_FALSE(withSnapshot.fallbackApplied);
        EXPECT_EQ(withSnapshot.error, Case::deviceUnavailable);
        EXPECT_FALSE(controller_.restore(std::nullopt).usedSnapshot);
    };

    hardware_->update([](audiohw::HardwareSnapshot& state) { state.devices.push_back(speakers()); });
    expectNoDevice();  // no default at all
    hardware_->update([](audiohw::HardwareSnapshot& state) { state.defaultOutput = 99; });
    expectNoDevice();  // a default that is not among the devices
    hardware_->update([](audiohw::HardwareSnapshot& state) { state.defaultOutput = kSpeakers; });
    hardware_->failReads(true);
    log_.clear();
    expectNoDevice();

    EXPECT_TRUE(hardware_->writes().empty());
    // An unreadable server is said in the log, where no device alone would be silent.
    const std::string unreadable = "ERROR 声音服务器无法连接或没有应答";
    EXPECT_EQ(log_.lines(), lines("INFO 准备静音默认输出设备", unreadable, unreadable, "INFO 准备恢复系统音量",
                                  unreadable, "ERROR 恢复失败：找不到默认输出设备", "INFO 准备恢复系统音量",
                                  unreadable, "ERROR 恢复失败：找不到默认输出设备"));
}

TEST_F(AudioControllerTest, RestoreWritesTheSwitchThenTheVolumesBackBitForBit) {
    useDevice(speakers());
    const Muted muted = mute(controller_);
    hardware_->update([](audiohw::HardwareSnapshot& state) { state.devices[0].channelVolumes = {0.9F, 0.9F}; });
    log_.clear();

    const RestoreOutcome outcome = controller_.restore(muted.snapshot);
    EXPECT_EQ(outcome.deviceID, kSpeakers);
    EXPECT_EQ(outcome.deviceName, "Speakers");
    EXPECT_TRUE(outcome.usedSnapshot);
    EXPECT_FALSE(outcome.fallbackApplied);
    EXPECT_EQ(outcome.error, std::nullopt);
    EXPECT_EQ(hardware_->writes(),
              (Writes{"mute 40 true", "mute 40 false", "volumes 40 main 0.63", "volumes 40 channels 0.63 0.4"}));
    EXPECT_EQ(present(kSpeakers), speakers());
    EXPECT_EQ(log_.lines(), lines("INFO 准备恢复系统音量", "INFO 按照快照恢复完成"));

    // A device that was already muted stays muted.
    AudioStateSnapshot wasMuted = muted.snapshot;
    wasMuted.muted = true;
    EXPECT_EQ(controller_.restore(wasMuted).error, std::nullopt);
    EXPECT_EQ(present(kSpeakers).muted, true);
}

TEST_F(AudioControllerTest, ASnapshotThatDoesNotFitThisDeviceFallsBackToTheSafetyVolume) {
    // Another device's snapshot is never written onto the present one, whether or not it still exists.
    const AudioStateSnapshot headphones{kHeadphones, "Headphones", 0.1, 0.1, 0.1, false, 1.0};
    useDevice(speakers(kHeadphones));
    useDevice(withOnlyChannels(speakers()));
    RestoreOutcome outcome = controller_.restore(headphones);
    EXPECT_EQ(outcome.deviceID, kSpeakers);
    EXPECT_TRUE(outcome.usedSnapshot);
    EXPECT_TRUE(outcome.fallbackApplied);
    EXPECT_EQ(outcome.error, Case::restoreFailed);
    EXPECT_EQ(hardware_->writes(), (Writes{"volumes 40 channels 0.5 0.5"}));
    EXPECT_EQ(log_.lines(), lines("INFO 准备恢复系统音量", "ERROR 恢复失败：恢复系统音量失败。",
                                  "INFO 尝试应用 50% 安全音量作为兜底"));

    // A snapshot holding nothing, and a device having nothing: the latter changes nothing either.
    outcome = controller_.restore(AudioStateSnapshot{.deviceID = kSpeakers});
    EXPECT_EQ(outcome.error, Case::propertyUnavailable);
    EXPECT_TRUE(outcome.fallbackApplied);
    useDevice(withOnlyChannels(InMemoryAudioHardware::output(44, "Silent", "silent", {})));
    outcome = controller_.restore(AudioStateSnapshot{44, std::nullopt, 0.3, 0.3, 0.3, false, 1.0});
    EXPECT_EQ(outcome.error, Case::propertyUnavailable);
    EXPECT_FALSE(outcome.fallbackApplied);
}

TEST_F(AudioControllerTest, WithoutSnapshotOrPastRefusedWritesTheSafetyVolumeDoesWhatItCan) {
    Device mutedSpeakers = speakers();
    mutedSpeakers.muted = true;
    useDevice(mutedSpeakers);
    RestoreOutcome outcome = controller_.restore(std::nullopt);
    EXPECT_EQ(outcome.deviceID, kSpeakers);
    EXPECT_FALSE(outcome.usedSnapshot);
    EXPECT_TRUE(outcome.fallbackApplied);
    EXPECT_EQ(outcome.error, Case::stateMissing);
    EXPECT_EQ(hardware_->writes(), (Writes{"mute 40 false", "volumes 40 main 0.5", "volumes 40 channels 0.5 0.5"}));
    EXPECT_EQ(log_.lines(), lines("INFO 准备恢复系统音量", "ERROR 恢复失败：缺少静音前的快照",
                                  "INFO 尝试应用 50% 安全音量作为兜底"));

    // A refused write stops the restore; the safety volume goes on past refusals.
    hardware_->refuseWrites("mute 40");
    hardware_->refuseWrites("volumes 40 channels");
    log_.clear();
    outcome = controller_.restore(AudioStateSnapshot{kSpeakers, "Speakers", 0.2, 0.2, 0.2, false, 1.0});
    EXPECT_EQ(outcome.error, Case::muteFailed);
    EXPECT_TRUE(outcome.usedSnapshot);
    EXPECT_TRUE(outcome.fallbackApplied);
    EXPECT_EQ(hardware_->writes().back(), "volumes 40 main 0.5");  // only the main volume took
    EXPECT_EQ(hardware_->writes().size(), 4U);
    EXPECT_EQ(log_.lines(), lines("INFO 准备恢复系统音量", "ERROR 恢复失败：系统静音失败。",
                                  "INFO 尝试应用 50% 安全音量作为兜底", "ERROR 清除静音失败：系统静音失败。",
                                  "ERROR 设置声道音量失败：系统静音失败。"));

    hardware_->refuseWrites("volumes 40 main");
    EXPECT_FALSE(controller_.restore(std::nullopt).fallbackApplied);
    EXPECT_EQ(log_.lines().at(log_.lines().size() - 2), "ERROR 设置主音量失败：系统静音失败。");
}

}  // namespace
}  // namespace hushline
