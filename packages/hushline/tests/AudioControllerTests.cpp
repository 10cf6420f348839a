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
    AudioController controller_{hardware_, log_.logger()};
};

TEST_F(AudioControllerTest, MuteUsesTheFirstMeansTheDeviceHas) {
    useDevice(speakers());
    EXPECT_EQ(mute(controller_).method, "mute-property");
    useDevice(withoutSwitch(speakers(41)));
    EXPECT_EQ(mute(controller_).method, "main-volume-zero");
    useDevice(withOnlyChannels(speakers(42)));
    EXPECT_EQ(mute(controller_).method, "channel-volume-zero");
    Device mono = withOnlyChannels(InMemoryAudioHardware::output(43, "Mono", "mono", {0.7F}));
    mono.name.reset();
    useDevice(mono);
    const Muted outcome = mute(controller_);
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

TEST_F(AudioControllerTest, ARestoreThatFindsNothingToWriteSaysSo) {
    useDevice(withOnlyChannels(speakers()));
    // A snapshot holding nothing, and a device having nothing: the latter changes nothing either.
    RestoreOutcome outcome = controller_.restore(AudioStateSnapshot{.deviceID = kSpeakers});
    EXPECT_EQ(outcome.error, Case::propertyUnavailable);
    EXPECT_TRUE(outcome.fallbackApplied);
    useDevice(withOnlyChannels(InMemoryAudioHardware::output(44, "Silent", "silent", {})));
    outcome = controller_.restore(AudioStateSnapshot{44, std::nullopt, 0.3, 0.3, 0.3, false, 1.0});
    EXPECT_EQ(outcome.error, Case::propertyUnavailable);
    EXPECT_FALSE(outcome.fallbackApplied);
}

TEST_F(AudioControllerTest, ARefusedWriteStopsTheRestoreAndTheSafetyVolumeGoesOnPastRefusals) {
    useDevice(speakers());
    hardware_->refuseWrites("mute 40");
    hardware_->refuseWrites("volumes 40 channels");
    RestoreOutcome outcome = controller_.restore(AudioStateSnapshot{kSpeakers, "Speakers", 0.2, 0.2, 0.2, false, 1.0});
    EXPECT_EQ(outcome.error, Case::muteFailed);
    EXPECT_TRUE(outcome.usedSnapshot);
    EXPECT_TRUE(outcome.fallbackApplied);
    EXPECT_EQ(hardware_->writes().back(), "volumes 40 main 0.5");  // only the main volume took
    EXPECT_EQ(hardware_->writes().size(), 1U);
    EXPECT_EQ(log_.lines(), lines("INFO 准备恢复系统音量", "ERROR 恢复失败：系统静音失败。",
                                  "INFO 尝试应用 50% 安全音量作为兜底", "ERROR 清除静音失败：系统静音失败。",
                                  "ERROR 设置声道音量失败：系统静音失败。"));

    hardware_->refuseWrites("volumes 40 main");
    EXPECT_FALSE(controller_.restore(std::nullopt).fallbackApplied);
    EXPECT_EQ(log_.lines().at(log_.lines().size() - 2), "ERROR 设置主音量失败：系统静音失败。");
}

}  // namespace
}  // namespace hushline
