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

class AudioControllerTest : public ::testing::Test {
protected:
    // A device with the given properties, made the default output device.
    void addDefaultDevice(ObjectID device, const DeviceProperties& properties = {}) {
        hardware_->addDevice(device);
        if (properties.name) hardware_->setProperty(device, kName, *properties.name);
        if (properties.muted) hardware_->setProperty(device, kMute, std::uint32_t{*properties.muted ? 1U : 0U});
        if (properties.main) hardware_->setProperty(device, kMain, *properties.main);
        if (properties.left) hardware_->setProperty(device, kLeft, *properties.left);
        if (properties.right) hardware_->setProperty(device, kRight, *properties.right);
        hardware_->setProperty(audiohw::kSystemObject, kDefaultOutput, device);
    }

    std::shared_ptr<InMemoryAudioHardware> hardware_ = std::make_shared<InMemoryAudioHardware>();
    cli::RecordingLogger log_;
    // 2001-01-01T00:01:00Z
    AudioController controller_{hardware_, log_.logger(),
                                [] { return std::chrono::system_clock::time_point(std::chrono::seconds(978307260)); }};
};

struct Muted {
    AudioStateSnapshot snapshot;
    std::string method;
};

Muted mute(const AudioController& controller) {
    AudioStateSnapshot before = controller.stateBeforeMute();
    std::string method = controller.silence(before);
    return {std::move(before), std::move(method)};
}

Case muteFailure(const AudioController& controller) {
    try {
        mute(controller);
    } catch (const CLIError& error) {
        return error.errorCase();
    }
    ADD_FAILURE() << "mute() did not fail";
    return Case::commandMissing;
}

// What a sound server cannot be made to do: devices without a mute switch or with only some
// volumes, refused reads and writes. The common paths run against the real server.
TEST_F(AudioControllerTest, MuteUsesTheFirstMeansTheDeviceOffers) {
    addDefaultDevice(kSpeakers, {.muted = std::nullopt});
    EXPECT_EQ(mute(controller_).method, "main-volume-zero");
    addDefaultDevice(kHeadphones, {.muted = std::nullopt, .main = std::nullopt});
    EXPECT_EQ(mute(controller_).method, "channel-volume-zero");
    EXPECT_EQ(hardware_->writes(), (std::vector{write(kSpeakers, kMain, 0.0F), write(kHeadphones, kLeft, 0.0F),
                                                 write(kHeadphones, kRight, 0.0F)}));

    hardware_->removeProperty(kHeadphones, kLeft);
    const Muted rightOnly = mute(controller_);
    EXPECT_EQ(rightOnly.method, "channel-volume-zero");
    EXPECT_EQ(rightOnly.snapshot, (AudioStateSnapshot{kHeadphones, "Speakers", std::nullopt, std::nullopt, 0.0,
                                                      std::nullopt, 60.0}));
    hardware_->removeProperty(kHeadphones, kRight);
    EXPECT_EQ(muteFailure(controller_), Case::propertyUnavailable);
    EXPECT_EQ(hardware_->writes().size(), 4U);
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
}

TEST_F(AudioControllerTest, RefusedReadsAreAbsentAndOnlyVolumeAndMuteReadsAreLogged) {
    addDefaultDevice(kSpeakers);
    hardware_->refuseReads(kSpeakers, kMain, -50);
    hardware_->refuseReads(kSpeakers, kRight, 7);
    hardware_->refuseReads(kSpeakers, kMute, audiohw::kErrorUnspecified);
    hardware_->refuseReads(kSpeakers, kName);
    EXPECT_EQ(controller_.currentState(), (AudioStateSnapshot{kSpeakers, std::nullopt, std::nullopt, double{0.63F},
                                                              std::nullopt, std::nullopt, 60.0}));
    EXPECT_EQ(log_.lines(), lines("ERROR 读取音量失败 selector=1986885219 element=0 status=-50",
                                  "ERROR 读取音量失败 selector=1987013741 element=2 status=7",
                                  "ERROR 读取静音状态失败 status=2003329396"));

    // A name whose reference is null reads as absent too; the mute line says "unknown".
    hardware_->setProperty(kSpeakers, kName, audiohw::NullStringReference{});
    EXPECT_EQ(mute(controller_).snapshot.deviceName, std::nullopt);
    EXPECT_EQ(log_.lines().back(), "INFO 静音完成 device=unknown 方法=mute-property");
}

TEST_F(AudioControllerTest, ASnapshotThatCannotBeWrittenFallsBackPastRefusals) {
    // The first refused write stops the restore; the safety volume goes on past refusals, but
    // after a refused left channel the right one is not tried.
    addDefaultDevice(kSpeakers);
    hardware_->refuseWrites(kSpeakers, kMute);
    hardware_->refuseWrites(kSpeakers, kLeft);
    RestoreOutcome outcome = controller_.restore(AudioStateSnapshot{kSpeakers, "Speakers", 0.2, 0.2, 0.2, false, 1.0});
    EXPECT_EQ(outcome.error, Case::muteFailed);
    EXPECT_TRUE(outcome.usedSnapshot);
    EXPECT_TRUE(outcome.fallbackApplied);
    EXPECT_EQ(hardware_->writes(), std::vector{write(kSpeakers, kMain, 0.5F)});
    EXPECT_EQ(log_.lines(), lines("INFO 准备恢复系统音量", "ERROR 恢复失败：系统静音失败。",
                                  "INFO 尝试应用 50% 安全音量作为兜底", "ERROR 清除静音失败：系统静音失败。",
                                  "ERROR 设置声道音量失败：系统静音失败。"));
    hardware_->refuseWrites(kSpeakers, kMain);
    EXPECT_FALSE(controller_.restore(std::nullopt).fallbackApplied);
    EXPECT_EQ(log_.lines().at(log_.lines().size() - 2), "ERROR 设置主音量失败：系统静音失败。");

    // Nothing recorded, on a device without any of the properties: the safety volume changes nothing either.
    addDefaultDevice(kHeadphones, {.muted = std::nullopt, .main = std::nullopt, .left = std::nullopt,
                                   .right = std::nullopt});
    outcome = controller_.restore(AudioStateSnapshot{.deviceID = kHeadphones});
    EXPECT_EQ(outcome.error, Case::propertyUnavailable);
    EXPECT_TRUE(outcome.usedSnapshot);
    EXPECT_FALSE(outcome.fallbackApplied);
}

}  // namespace
}  // namespace hushline
