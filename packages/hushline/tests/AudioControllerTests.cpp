#include <gtest/gtest.h>

#include "audio-hardware/Testing/InMemoryAudioHardware.h"
#include "hushline/Audio/AudioController.h"
#include "cli-frame/Testing/RecordingLogger.h"

namespace hushline {
namespace {

using audiohw::InMemoryAudioHardware;
using audiohw::ObjectID;
using audiohw::PropertyAddress;
using audiohw::RecordedWrite;
using Case = CLIError::Case;

template <typename... Line>
std::vector<std::string> lines(Line... each) {
    return {std::string(each)...};
}

constexpr PropertyAddress kDefaultOutput{audiohw::kPropertyDefaultOutputDevice, audiohw::kScopeGlobal, 0};
constexpr PropertyAddress kName{audiohw::kPropertyName, audiohw::kScopeGlobal, 0};
constexpr PropertyAddress kMute{audiohw::kPropertyMute, audiohw::kScopeOutput, 0};
constexpr PropertyAddress kMain{audiohw::kPropertyVirtualMainVolume, audiohw::kScopeOutput, 0};
constexpr PropertyAddress kLeft{audiohw::kPropertyVolumeScalar, audiohw::kScopeOutput, 1};
constexpr PropertyAddress kRight{audiohw::kPropertyVolumeScalar, audiohw::kScopeOutput, 2};

constexpr ObjectID kSpeakers = 40;
constexpr ObjectID kHeadphones = 41;

struct DeviceProperties {
    std::optional<std::string> name = "Speakers";
    std::optional<bool> muted = false;
    std::optional<float> main = 0.63F;
    std::optional<float> left = 0.63F;
    std::optional<float> right = 0.4F;
};

RecordedWrite write(ObjectID device, PropertyAddress address, float value) { return {device, address, value}; }
RecordedWrite write(ObjectID device, PropertyAddress address, std::uint32_t value) { return {device, address, value}; }

template <typename... Write>
std::vector<RecordedWrite> writes(Write... each) {
    return {each...};
}

class AudioControllerTest : public ::testing::Test {
protected:
    // A device with the given properties, made the default output device.
    void addDefaultDevice(ObjectID device, const DeviceProperties& properties = {}) {
        addDevice(device, properties);
        hardware_->setProperty(audiohw::kSystemObject, kDefaultOutput, device);
    }

    void addDevice(ObjectID device, const DeviceProperties& properties) {
        hardware_->addDevice(device);
        if (properties.name) hardware_->setProperty(device, kName, *properties.name);
        if (properties.muted) hardware_->setProperty(device, kMute, std::uint32_t{*properties.muted ? 1U : 0U});
        if (properties.main) hardware_->setProperty(device, kMain, *properties.main);
        if (properties.left) hardware_->setProperty(device, kLeft, *properties.left);
        if (properties.right) hardware_->setProperty(device, kRight, *properties.right);
    }

    std::shared_ptr<InMemoryAudioHardware> hardware_ = std::make_shared<InMemoryAudioHardware>();
    cli::RecordingLogger log_;
    // 2001-01-01T00:01:00Z
    AudioController controller_{hardware_, log_.logger(),
                                [] { return std::chrono::system_clock::time_point(std::chrono::seconds(978307260)); }};
};

Case muteFailure(const AudioController& controller) {
    try {
        controller.mute();
    } catch (const CLIError& error) {
        return error.errorCase();
    }
    ADD_FAILURE() << "mute() did not fail";
    return Case::commandMissing;
}

TEST_F(AudioControllerTest, MuteRecordsTheStateFirstThenUsesOnlyTheSwitch) {
    addDefaultDevice(kSpeakers);
    const MuteOutcome outcome = controller_.mute();

    EXPECT_EQ(outcome.method, "mute-property");
    EXPECT_EQ(outcome.snapshot, (AudioStateSnapshot{kSpeakers, "Speakers", double{0.63F}, double{0.63F}, double{0.4F},
                                                    false, 60.0}));
    EXPECT_EQ(hardware_->writes(), writes(write(kSpeakers, kMute, 1U)));
    EXPECT_EQ(log_.lines(), lines("INFO 准备静音默认输出设备", "INFO 静音完成 device=Speakers 方法=mute-property"));
}

TEST_F(AudioControllerTest, MuteFallsBackToTheMainVolumeThenToTheChannels) {
    addDefaultDevice(kSpeakers, {.muted = std::nullopt});
    EXPECT_EQ(controller_.mute().method, "main-volume-zero");
    EXPECT_EQ(hardware_->writes(), writes(write(kSpeakers, kMain, 0.0F)));

    addDefaultDevice(kHeadphones, {.muted = std::nullopt, .main = std::nullopt});
    EXPECT_EQ(controller_.mute().method, "channel-volume-zero");
    EXPECT_EQ(hardware_->writes(), writes(write(kSpeakers, kMain, 0.0F), write(kHeadphones, kLeft, 0.0F),
                                                 write(kHeadphones, kRight, 0.0F)));
}

TEST_F(AudioControllerTest, MuteWithOnlyTheRightChannelOrNothingToSilence) {
    addDefaultDevice(kSpeakers, {.muted = std::nullopt, .main = std::nullopt, .left = std::nullopt});
    const MuteOutcome outcome = controller_.mute();
    EXPECT_EQ(outcome.method, "channel-volume-zero");
    EXPECT_EQ(outcome.snapshot.leftVolume, std::nullopt);
    EXPECT_EQ(hardware_->writes(), writes(write(kSpeakers, kRight, 0.0F)));

    addDefaultDevice(kHeadphones, {.muted = std::nullopt, .main = std::nullopt, .left = std::nullopt,
                                   .right = std::nullopt});
    EXPECT_EQ(muteFailure(controller_), Case::propertyUnavailable);
    EXPECT_EQ(hardware_->writes().size(), 1U);
}

TEST_F(AudioControllerTest, ARefusedWriteFailsTheMuteWithoutTryingAnotherMeans) {
    addDefaultDevice(kSpeakers);
    hardware_->refuseWrites(kSpeakers, kMute);
    EXPECT_EQ(muteFailure(controller_), Case::muteFailed);

    hardware_->removeProperty(kSpeakers, kMute);
    hardware_->refuseWrites(kSpeakers, kMain);
    EXPECT_EQ(muteFailure(controller_), Case::muteFailed);

    // A refusal on the left channel leaves the right one alone.
    hardware_->removeProperty(kSpeakers, kMain);
    hardware_->refuseWrites(kSpeakers, kLeft);
    EXPECT_EQ(muteFailure(controller_), Case::muteFailed);

    EXPECT_TRUE(hardware_->writes().empty());
    EXPECT_EQ(hardware_->property(kSpeakers, kRight), audiohw::PropertyValue(0.4F));
    EXPECT_EQ(log_.lines().back(), "INFO 准备静音默认输出设备");
}

TEST_F(AudioControllerTest, RefusedReadsAreAbsentAndOnlyVolumeAndMuteReadsAreLogged) {
    addDefaultDevice(kSpeakers);
    hardware_->refuseReads(kSpeakers, kMain, -50);
    hardware_->refuseReads(kSpeakers, kRight, 7);
    hardware_->refuseReads(kSpeakers, kMute, audiohw::kErrorUnspecified);
    hardware_->refuseReads(kSpeakers, kName);

    const AudioStateSnapshot state = controller_.currentState();
    EXPECT_EQ(state, (AudioStateSnapshot{kSpeakers, std::nullopt, std::nullopt, double{0.63F}, std::nullopt,
                                         std::nullopt, 60.0}));
    EXPECT_EQ(log_.lines(), lines("ERROR 读取音量失败 selector=1986885219 element=0 status=-50",
                                          "ERROR 读取音量失败 selector=1987013741 element=2 status=7",
                                          "ERROR 读取静音状态失败 status=2003329396"));

    // A name whose reference is null reads as absent too; the mute line says "unknown".
    hardware_->setProperty(kSpeakers, kName, audiohw::NullStringReference{});
    log_.clear();
    EXPECT_EQ(controller_.mute().snapshot.deviceName, std::nullopt);
    EXPECT_EQ(log_.lines().back(), "INFO 静音完成 device=unknown 方法=mute-property");
}

TEST_F(AudioControllerTest, WithoutADefaultOutputDeviceNothingIsTouched) {
    const AudioStateSnapshot snapshot{kSpeakers, "Speakers", 0.5, 0.5, 0.5, false, 1.0};
    auto expectNoDevice = [&] {
        EXPECT_EQ(muteFailure(controller_), Case::deviceUnavailable);
        EXPECT_EQ(controller_.currentState(), (AudioStateSnapshot{.createdAt = 60.0}));
        const RestoreOutcome withSnapshot = controller_.restore(snapshot);
        EXPECT_EQ(withSnapshot.deviceID, 0U);
        EXPECT_TRUE(withSnapshot.usedSnapshot);
        EXPECT_FALSE(withSnapshot.fallbackApplied);
        EXPECT_EQ(withSnapshot.error, Case::deviceUnavailable);
        EXPECT_FALSE(controller_.restore(std::nullopt).usedSnapshot);
    };

    addDevice(kSpeakers, {});
    expectNoDevice();  // no default-device property at all
    hardware_->setProperty(audiohw::kSystemObject, kDefaultOutput, audiohw::kUnknownObject);
    expectNoDevice();
    hardware_->setProperty(audiohw::kSystemObject, kDefaultOutput, kSpeakers);
    hardware_->refuseReads(audiohw::kSystemObject, kDefaultOutput);
    log_.clear();
    expectNoDevice();

    EXPECT_TRUE(hardware_->writes().empty());
    EXPECT_EQ(log_.lines(), lines("INFO 准备静音默认输出设备", "INFO 准备恢复系统音量",
                                          "ERROR 恢复失败：找不到默认输出设备", "INFO 准备恢复系统音量",
                                          "ERROR 恢复失败：找不到默认输出设备"));
}

TEST_F(AudioControllerTest, RestoreWritesTheSwitchThenTheVolumesBackBitForBit) {
    addDefaultDevice(kSpeakers);
    const MuteOutcome muted = controller_.mute();
    hardware_->setProperty(kSpeakers, kMain, 0.9F);  // the user turned it up meanwhile
    log_.clear();

    const RestoreOutcome outcome = controller_.restore(muted.snapshot);
    EXPECT_EQ(outcome.deviceID, kSpeakers);
    EXPECT_EQ(outcome.deviceName, "Speakers");
    EXPECT_TRUE(outcome.usedSnapshot);
    EXPECT_FALSE(outcome.fallbackApplied);
    EXPECT_EQ(outcome.error, std::nullopt);
    EXPECT_EQ(hardware_->writes(),
              writes(write(kSpeakers, kMute, 1U), write(kSpeakers, kMute, 0U), write(kSpeakers, kMain, 0.63F),
                            write(kSpeakers, kLeft, 0.63F), write(kSpeakers, kRight, 0.4F)));
    EXPECT_EQ(log_.lines(), lines("INFO 准备恢复系统音量", "INFO 按照快照恢复完成"));

    // A device that was already muted stays muted.
    AudioStateSnapshot wasMuted = muted.snapshot;
    wasMuted.muted = true;
    EXPECT_EQ(controller_.restore(wasMuted).error, std::nullopt);
    EXPECT_EQ(hardware_->property(kSpeakers, kMute), audiohw::PropertyValue(1U));
}

TEST_F(AudioControllerTest, RestoreWithoutSnapshotAppliesTheSafetyVolume) {
    addDefaultDevice(kSpeakers, {.muted = true});
    const RestoreOutcome outcome = controller_.restore(std::nullopt);
    EXPECT_EQ(outcome.deviceID, kSpeakers);
    EXPECT_FALSE(outcome.usedSnapshot);
    EXPECT_TRUE(outcome.fallbackApplied);
    EXPECT_EQ(outcome.error, Case::stateMissing);
    EXPECT_EQ(hardware_->writes(), writes(write(kSpeakers, kMute, 0U), write(kSpeakers, kMain, 0.5F),
                                                 write(kSpeakers, kLeft, 0.5F), write(kSpeakers, kRight, 0.5F)));
    EXPECT_EQ(log_.lines(), lines("INFO 准备恢复系统音量", "ERROR 恢复失败：缺少静音前的快照",
                                          "INFO 尝试应用 50% 安全音量作为兜底"));
}

TEST_F(AudioControllerTest, ASnapshotOfAnotherDeviceIsNeverWrittenThere) {
    addDevice(kHeadphones, {});
    const AudioStateSnapshot headphones{kHeadphones, "Headphones", 0.1, 0.1, 0.1, false, 1.0};
    addDefaultDevice(kSpeakers, {.name = "Speakers", .muted = std::nullopt, .main = std::nullopt});

    const RestoreOutcome outcome = controller_.restore(headphones);
    EXPECT_EQ(outcome.deviceID, kSpeakers);
    EXPECT_EQ(outcome.deviceName, "Speakers");
    EXPECT_TRUE(outcome.usedSnapshot);
    EXPECT_TRUE(outcome.fallbackApplied);
    EXPECT_EQ(outcome.error, Case::restoreFailed);
    EXPECT_EQ(hardware_->writes(), writes(write(kSpeakers, kLeft, 0.5F), write(kSpeakers, kRight, 0.5F)));
    EXPECT_EQ(log_.lines(), lines("INFO 准备恢复系统音量", "ERROR 恢复失败：恢复系统音量失败。",
                                          "INFO 尝试应用 50% 安全音量作为兜底"));

    // The recorded device is gone altogether: the same outcome on whatever is default now.
    hardware_->removeDevice(kHeadphones);
    EXPECT_EQ(controller_.restore(headphones).error, Case::restoreFailed);
}

TEST_F(AudioControllerTest, ASnapshotThatCannotBeWrittenFallsBack) {
    // Nothing recorded.
    addDefaultDevice(kSpeakers);
    RestoreOutcome outcome = controller_.restore(AudioStateSnapshot{.deviceID = kSpeakers});
    EXPECT_EQ(outcome.error, Case::propertyUnavailable);
    EXPECT_TRUE(outcome.usedSnapshot);
    EXPECT_TRUE(outcome.fallbackApplied);

    // A device without any of the properties: the safety volume changes nothing either.
    addDefaultDevice(kHeadphones, {.muted = std::nullopt, .main = std::nullopt, .left = std::nullopt,
                                   .right = std::nullopt});
    outcome = controller_.restore(AudioStateSnapshot{kHeadphones, std::nullopt, 0.3, 0.3, 0.3, false, 1.0});
    EXPECT_EQ(outcome.error, Case::propertyUnavailable);
    EXPECT_FALSE(outcome.fallbackApplied);
}

TEST_F(AudioControllerTest, ARefusedWriteStopsTheRestoreAndTheSafetyVolumeGoesOnPastRefusals) {
    addDefaultDevice(kSpeakers);
    hardware_->refuseWrites(kSpeakers, kMute);
    hardware_->refuseWrites(kSpeakers, kLeft);

    const RestoreOutcome outcome = controller_.restore(AudioStateSnapshot{kSpeakers, "Speakers", 0.2, 0.2, 0.2, false, 1.0});
    EXPECT_EQ(outcome.error, Case::muteFailed);
    EXPECT_TRUE(outcome.usedSnapshot);
    EXPECT_TRUE(outcome.fallbackApplied);
    // Only the main volume took the safety value; after the refused left channel the right
    // one is not tried.
    EXPECT_EQ(hardware_->writes(), writes(write(kSpeakers, kMain, 0.5F)));
    EXPECT_EQ(log_.lines(), lines("INFO 准备恢复系统音量", "ERROR 恢复失败：系统静音失败。",
                                          "INFO 尝试应用 50% 安全音量作为兜底", "ERROR 清除静音失败：系统静音失败。",
                                          "ERROR 设置声道音量失败：系统静音失败。"));

    hardware_->refuseWrites(kSpeakers, kMain);
    EXPECT_FALSE(controller_.restore(std::nullopt).fallbackApplied);
    EXPECT_EQ(log_.lines().at(log_.lines().size() - 2), "ERROR 设置主音量失败：系统静音失败。");
}

}  // namespace
}  // namespace hushline
