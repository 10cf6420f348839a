// The device manager and the change monitor over the in-memory hardware, for what a real
// server cannot be made to do: unnamed devices, failing reads, refused writes, a default that
// does not take at once. Results and events against a real server are process tests.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "audio-hardware/Testing/InMemoryAudioHardware.h"
#include "cli-frame/Json/Json.h"
#include "cli-frame/Testing/RecordingLogger.h"
#include "portline/Audio/AudioDeviceManager.h"
#include "portline/Audio/AudioDeviceMonitor.h"
#include "portline/Runtime/CLIError.h"

namespace portline {
namespace {

using namespace audiohw;

// A handler that records events as the watch writes them, "INFO event-name data-JSON",
// from whichever thread delivers them.
AudioDeviceMonitor::EventHandler recordingInto(const cli::RecordingLogger& recorder) {
    return [logger = recorder.logger()](const AudioDeviceEvent& event) {
        logger.info(std::string(eventName(event)) + " " +
                    std::visit([](const auto& value) { return cli::Json(value).dump(); }, event));
    };
}

CLIError::Case failureOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const CLIError& error) {
        return error.errorCase();
    }
    ADD_FAILURE() << "no CLIError was thrown";
    return CLIError::Case::internalError;
}

class InMemoryDevicesTest : public ::testing::Test {
protected:
    InMemoryDevicesTest() : manager_(hardware_, log_.logger()) {
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
    // The hardware announces on a thread of its own, as the real one does.
    void announceFromAnotherThread(std::vector<HardwareChange> changes) {
        std::thread([&] {
            for (const HardwareChange change : changes) hardware_.announce(change);
        }).join();
    }

    InMemoryAudioHardware hardware_;
    cli::RecordingLogger log_;
    AudioDeviceManager manager_;
};

TEST_F(InMemoryDevicesTest, OnlyNamedInputsThatRecordAreListedAndADefaultMustBeOneOfThem) {
    hardware_.update([](HardwareSnapshot& state) {
        state.devices.push_back(InMemoryAudioHardware::input(13, "No channels", "none", 0));
        state.devices.push_back(InMemoryAudioHardware::input(14, "Unnamed", "unnamed", 1));
        state.devices.back().name.reset();
    });
    EXPECT_EQ(manager_.getAllInputDevices(),
              (std::vector<AudioInputDevice>{{"mic", "Built-in Mic", true}, {"usb", "USB Interface", false}}));
    EXPECT_EQ(log_.lines(),
              (std::vector<std::string>{"INFO 获取所有输入设备", "ERROR 无法获取设备 14 的名称或 UID", "INFO 找到 2 个输入设备"}));

    unname(11);
    EXPECT_EQ(failureOf([&] { manager_.getDefaultInputDevice(); }), CLIError::Case::noDefaultDevice);
    // Without a default, or with one that is gone, nothing is marked and there is no default.
    for (const std::optional<DeviceID> absent : {std::optional<DeviceID>(), std::optional<DeviceID>(99)}) {
        setDefault(absent);
        for (const auto& device : manager_.getAllInputDevices()) EXPECT_FALSE(device.isDefault);
        EXPECT_EQ(failureOf([&] { manager_.getDefaultInputDevice(); }), CLIError::Case::noDefaultDevice);
    }
}

TEST_F(InMemoryDevicesTest, SettingTheDefaultReportsBothDevicesOrWhyItFailed) {
    // The device that already is the default: both sides equal. An unnamed previous one is left out.
    SetDefaultResult result = manager_.setDefaultInputDevice("mic");
    EXPECT_EQ(result.previousDevice, AudioInputDeviceBasic(result.currentDevice));
    EXPECT_EQ(log_.lines(), (std::vector<std::string>{"INFO 设置默认输入设备: mic", "INFO 获取默认输入设备",
                                                      "INFO 默认输入设备已切换到: Built-in Mic"}));
    unname(11);
    EXPECT_EQ(manager_.setDefaultInputDevice("usb").previousDevice, std::nullopt);

    hardware_.refuseWrites("default-input mic");
    EXPECT_EQ(failureOf([&] { manager_.setDefaultInputDevice("mic"); }), CLIError::Case::setDefaultFailed);
    // Written, but the new default cannot be named: a failure, and the log says it changed.
    unname(12);
    log_.clear();
    EXPECT_EQ(failureOf([&] { manager_.setDefaultInputDevice("usb"); }), CLIError::Case::setDefaultFailed);
    EXPECT_TRUE(log_.contains("ERROR 默认输入设备已写入，但无法读取设备 12 的名称"));
    // Asked for, but the server keeps its own default: a failure after a bounded wait.
    hardware_.ignoreDefaultInputChanges(true);
    setDefault(11);
    EXPECT_EQ(failureOf([&] { manager_.setDefaultInputDevice("usb"); }), CLIError::Case::setDefaultFailed);
    EXPECT_TRUE(log_.contains("ERROR 默认输入设备未能切换到: usb"));
    EXPECT_EQ(hardware_.writes(), (std::vector<std::string>{"default-input mic", "default-input usb", "default-input usb",
                                                            "default-input usb"}));

    // The server takes it a moment later, as WirePlumber does: that is waited for.
    hardware_.update([](HardwareSnapshot& state) { state.devices[2].name = "USB Interface"; });
    std::optional<SetDefaultResult> later;
    std::thread setter([&] { later = manager_.setDefaultInputDevice("usb"); });
    hardware_.waitForWatches(1);  // the manager waits for the change now
    setDefault(12);
    hardware_.announce(HardwareChange::defaultInput);
    setter.join();
    ASSERT_TRUE(later);
    EXPECT_EQ(later->currentDevice.uid, "usb");
}

TEST_F(InMemoryDevicesTest, FailedReadsAreLoggedWithoutAnEventAndOnlyTheRunningHandlerHears) {
    cli::RecordingLogger recorder, second;
    AudioDeviceMonitor monitor(hardware_, log_.logger());
    monitor.stopMonitoring();  // not running: nothing happens
    EXPECT_TRUE(log_.lines().empty());
    monitor.startMonitoring(recordingInto(recorder));
    monitor.startMonitoring(recordingInto(second));  // running: the first handler stays
    EXPECT_TRUE(log_.contains("INFO 监听已在运行中"));

    hardware_.failReads(true);
    announceFromAnotherThread({HardwareChange::defaultInput, HardwareChange::devices});
    EXPECT_TRUE(log_.contains("ERROR 获取默认设备失败: 未找到默认输入设备"));
    EXPECT_TRUE(log_.contains("ERROR 获取设备列表失败: 枚举音频设备失败"));
    hardware_.failReads(false);
    announceFromAnotherThread({HardwareChange::defaultInput,     // nothing changed: still an event
                               HardwareChange::defaultOutput});  // not watched
    EXPECT_EQ(recorder.lines(), std::vector<std::string>{
                                    R"(INFO default-device-changed {"device":{"uid":"mic","name":"Built-in Mic","isDefault":true}})"});

    monitor.stopMonitoring();
    announceFromAnotherThread({HardwareChange::devices, HardwareChange::serverLost});
    EXPECT_EQ(recorder.lines().size(), 1u);
    EXPECT_TRUE(second.lines().empty());
    // Started again after a stop, the new handler is used.
    monitor.startMonitoring(recordingInto(second));
    announceFromAnotherThread({HardwareChange::devices});
    EXPECT_EQ(second.lines().size(), 1u);
}

TEST_F(InMemoryDevicesTest, StoppingWhileChangesArriveNeverReachesAGoneMonitor) {
    cli::RecordingLogger recorder;
    std::atomic<bool> done{false};
    std::thread announcer([&] {
        while (!done) hardware_.announce(HardwareChange::devices);
    });
    for (int round = 0; round < 50; ++round) {
        AudioDeviceMonitor monitor(hardware_, log_.logger());
        monitor.startMonitoring(recordingInto(recorder));
    }  // each monitor is destroyed while the announcer keeps going; the sanitizers catch a late call
    done = true;
    announcer.join();

    // Once its monitor is gone, a handler is never called again.
    const auto delivered = recorder.lines().size();
    hardware_.announce(HardwareChange::devices);
    EXPECT_EQ(recorder.lines().size(), delivered);
}

}  // namespace
}  // namespace portline
