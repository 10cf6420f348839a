// The manager over the in-memory hardware, for what a real server cannot be made to do:
// unnamed devices, failing reads, refused writes, a default that does not take at once.
#include <gtest/gtest.h>

#include <thread>

#include "audio-hardware/Testing/InMemoryAudioHardware.h"
#include "portline/Audio/AudioDeviceManager.h"
#include "portline/Runtime/CLIError.h"
#include "cli-frame/Testing/RecordingLogger.h"

namespace portline {
namespace {

using namespace audiohw;

CLIError::Case failureOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const CLIError& error) {
        return error.errorCase();
    }
    ADD_FAILURE() << "no CLIError was thrown";
    return CLIError::Case::internalError;
}

class AudioDeviceManagerTest : public ::testing::Test {
protected:
    AudioDeviceManagerTest() : manager_(hardware_, log_.logger()) {
        hardware_.update([](HardwareSnapshot& state) {
            state.devices = {InMemoryAudioHardware::output(10, "Speakers", "speakers", {1.0F, 1.0F}),
                             InMemoryAudioHardware::input(11, "Built-in Mic", "mic", 1),
                             InMemoryAudioHardware::input(12, "USB Interface", "usb", 2)};
            state.defaultInput = 11;
        });
    }

    void setDefault(std::optional<DeviceID> id) {
        hardware_.update([&](HardwareSnapshot& state) { state.defaultInput = id; });
    }
    void unname(DeviceID id) {
        hardware_.update([&](HardwareSnapshot& state) { state.devices[id - 10].name.reset(); });
    }

    InMemoryAudioHardware hardware_;
    cli::RecordingLogger log_;
    AudioDeviceManager manager_;
};

TEST_F(AudioDeviceManagerTest, ListsTheNamedInputsThatRecordWithTheDefaultMarked) {
    hardware_.update([](HardwareSnapshot& state) {
        state.devices.push_back(InMemoryAudioHardware::input(13, "No channels", "none", 0));
        state.devices.push_back(InMemoryAudioHardware::input(14, "Unnamed", "unnamed", 1));
        state.devices.back().name.reset();
    });
    EXPECT_EQ(manager_.getAllInputDevices(),
              (std::vector<AudioInputDevice>{{"mic", "Built-in Mic", true}, {"usb", "USB Interface", false}}));
    EXPECT_EQ(log_.lines(), (std::vector<std::string>{"INFO 获取所有输入设备", "ERROR 无法获取设备 14 的名称或 UID",
                                                      "INFO 找到 2 个输入设备"}));

    // Without a default, or with one that is gone, nothing is marked.
    for (const std::optional<DeviceID> absent : {std::optional<DeviceID>(), std::optional<DeviceID>(99)}) {
        setDefault(absent);
        for (const auto& device : manager_.getAllInputDevices()) EXPECT_FALSE(device.isDefault);
    }
    hardware_.failReads(true);
    EXPECT_EQ(failureOf([&] { manager_.getAllInputDevices(); }), CLIError::Case::enumFailed);
    hardware_.failReads(false);
    hardware_.update([](HardwareSnapshot& state) { state.devices.resize(1); });
    log_.clear();
    EXPECT_TRUE(manager_.getAllInputDevices().empty());
    EXPECT_TRUE(log_.contains("INFO 找到 0 个输入设备"));
}

TEST_F(AudioDeviceManagerTest, TheDefaultNeedsANamedDeviceThatIsThere) {
    EXPECT_EQ(manager_.getDefaultInputDevice(), (AudioInputDevice{"mic", "Built-in Mic", true}));
    EXPECT_EQ(log_.lines(), std::vector<std::string>{"INFO 获取默认输入设备"});
    unname(11);
    EXPECT_EQ(failureOf([&] { manager_.getDefaultInputDevice(); }), CLIError::Case::noDefaultDevice);
    for (const std::optional<DeviceID> absent : {std::optional<DeviceID>(), std::optional<DeviceID>(99)}) {
        setDefault(absent);
        EXPECT_EQ(failureOf([&] { manager_.getDefaultInputDevice(); }), CLIError::Case::noDefaultDevice);
    }
    setDefault(12);
    hardware_.failReads(true);
    EXPECT_EQ(failureOf([&] { manager_.getDefaultInputDevice(); }), CLIError::Case::noDefaultDevice);
}

TEST_F(AudioDeviceManagerTest, SettingTheDefaultReportsBothDevicesOrWhyItFailed) {
    SetDefaultResult result = manager_.setDefaultInputDevice("usb");
    EXPECT_EQ(result.previousDevice, (AudioInputDeviceBasic{"mic", "Built-in Mic"}));
    EXPECT_EQ(result.currentDevice, (AudioInputDeviceBasic{"usb", "USB Interface"}));
    EXPECT_EQ(hardware_.state().defaultInput, 12u);
    EXPECT_EQ(log_.lines(), (std::vector<std::string>{"INFO 设置默认输入设备: usb", "INFO 获取默认输入设备",
                                                      "INFO 默认输入设备已切换到: USB Interface"}));
    // The device that already is the default: both sides equal. An unnamed previous one is left out.
    result = manager_.setDefaultInputDevice("usb");
    EXPECT_EQ(result.previousDevice, AudioInputDeviceBasic(result.currentDevice));
    unname(12);
    EXPECT_EQ(manager_.setDefaultInputDevice("mic").previousDevice, std::nullopt);

    // UIDs are exact; every device is searched, and an output is refused without a write.
    EXPECT_EQ(failureOf([&] { manager_.setDefaultInputDevice("MIC"); }), CLIError::Case::deviceNotFound);
    EXPECT_EQ(failureOf([&] { manager_.setDefaultInputDevice("speakers"); }), CLIError::Case::setDefaultFailed);
    hardware_.refuseWrites("default-input mic");
    EXPECT_EQ(failureOf([&] { manager_.setDefaultInputDevice("mic"); }), CLIError::Case::setDefaultFailed);
    // Written, but the new default cannot be named: a failure, and the log says it changed.
    log_.clear();
    EXPECT_EQ(failureOf([&] { manager_.setDefaultInputDevice("usb"); }), CLIError::Case::setDefaultFailed);
    EXPECT_TRUE(log_.contains("ERROR 默认输入设备已写入，但无法读取设备 12 的名称"));
    hardware_.failReads(true);
    EXPECT_EQ(failureOf([&] { manager_.setDefaultInputDevice("usb"); }), CLIError::Case::enumFailed);
    EXPECT_EQ(hardware_.writes(), (std::vector<std::string>{"default-input usb", "default-input usb",
                                                            "default-input mic", "default-input usb"}));
}

TEST_F(AudioDeviceManagerTest, ADefaultThatTakesAMomentLaterIsWaitedFor) {
    // The server takes it a moment later, as WirePlumber does.
    hardware_.ignoreDefaultInputChanges(true);
    std::optional<SetDefaultResult> result;
    std::thread setter([&] { result = manager_.setDefaultInputDevice("usb"); });
    hardware_.waitForWatches(1);  // the manager waits for the change now
    setDefault(12);
    hardware_.announce(HardwareChange::defaultInput);
    setter.join();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->currentDevice.uid, "usb");
}

}  // namespace
}  // namespace portline
