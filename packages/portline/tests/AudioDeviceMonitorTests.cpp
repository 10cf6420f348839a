#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "audio-hardware/Testing/InMemoryAudioHardware.h"
#include "cli-frame/Json/Json.h"
#include "portline/Audio/AudioDeviceMonitor.h"
#include "cli-frame/Testing/RecordingLogger.h"

namespace portline {
namespace {

using namespace audiohw;

constexpr PropertyAddress kDefaultInput{kPropertyDefaultInputDevice, kScopeGlobal, kElementMain};
constexpr PropertyAddress kDevices{kPropertyDevices, kScopeGlobal, kElementMain};

// Events as the watch writes them: the event name and the data's JSON.
class EventRecorder {
public:
    AudioDeviceMonitor::EventHandler handler() {
        return [this](const AudioDeviceEvent& event) {
            const std::string data = std::visit([](const auto& value) { return cli::Json(value).dump(); }, event);
            std::lock_guard lock(mutex_);
            events_.push_back(std::string(eventName(event)) + " " + data);
        };
    }
    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

class AudioDeviceMonitorTest : public ::testing::Test {
protected:
    AudioDeviceMonitorTest() {
        hardware_.addOutputDevice(10, "Speakers", "speakers");
        hardware_.addInputDevice(11, "Mic", "mic", 1);
        hardware_.setProperty(kSystemObject, kDefaultInput, ObjectID{11});
    }

    // The hardware notifies on a thread of its own, as the real one does.
    void notifyFromAnotherThread(std::vector<PropertySelector> selectors) {
        std::thread([&] { hardware_.notify(selectors); }).join();
    }

    InMemoryAudioHardware hardware_;
    cli::RecordingLogger log_;
    EventRecorder recorder_;
};

TEST_F(AudioDeviceMonitorTest, EachNotificationBecomesOneEventWithTheFreshStateInOrder) {
    AudioDeviceMonitor monitor(hardware_, log_.logger());
    monitor.startMonitoring(recorder_.handler());
    EXPECT_TRUE(monitor.isRunning());

    hardware_.addInputDevice(12, "USB", "usb", 2);
    notifyFromAnotherThread({kPropertyDevices});
    hardware_.setProperty(kSystemObject, kDefaultInput, ObjectID{12});
    notifyFromAnotherThread({kPropertyDefaultInputDevice, kPropertyDevices});
    notifyFromAnotherThread({kPropertyDefaultInputDevice});  // nothing changed: still an event
    notifyFromAnotherThread({kPropertyDefaultOutputDevice});  // not listened to

    const std::string both = R"({"devices":[{"uid":"mic","name":"Mic","isDefault":false},{"uid":"usb","name":"USB","isDefault":true}]})";
    const std::string usb = R"({"device":{"uid":"usb","name":"USB","isDefault":true}})";
    EXPECT_EQ(recorder_.events(),
              (std::vector<std::string>{
                  R"(device-list-changed {"devices":[{"uid":"mic","name":"Mic","isDefault":true},{"uid":"usb","name":"USB","isDefault":false}]})",
                  "default-device-changed " + usb, "device-list-changed " + both, "default-device-changed " + usb}));
    EXPECT_TRUE(log_.contains("INFO 开始监听音频设备变化"));
    EXPECT_TRUE(log_.contains("INFO 检测到设备列表变化"));
    EXPECT_TRUE(log_.contains("INFO 检测到默认输入设备变化"));

    monitor.stopMonitoring();
    EXPECT_FALSE(monitor.isRunning());
    EXPECT_TRUE(log_.contains("INFO 停止监听音频设备变化"));
    notifyFromAnotherThread({kPropertyDevices, kPropertyDefaultInputDevice});
    EXPECT_EQ(recorder_.events().size(), 4u);
}

TEST_F(AudioDeviceMonitorTest, FailedReadsAreLoggedAndProduceNoEvent) {
    AudioDeviceMonitor monitor(hardware_, log_.logger());
    monitor.startMonitoring(recorder_.handler());
    hardware_.setProperty(kSystemObject, kDefaultInput, kUnknownObject);
    hardware_.refuseReads(kSystemObject, kDevices);
    notifyFromAnotherThread({kPropertyDefaultInputDevice, kPropertyDevices});
    EXPECT_TRUE(recorder_.events().empty());
    EXPECT_TRUE(log_.contains("ERROR 获取默认设备失败: 未找到默认输入设备"));
    EXPECT_TRUE(log_.contains("ERROR 获取设备列表失败: 枚举音频设备失败"));

    // Watching goes on.
    hardware_.refuseReads(kSystemObject, kDevices, kNoError);
    notifyFromAnotherThread({kPropertyDevices});
    EXPECT_EQ(recorder_.events().size(), 1u);
}

TEST_F(AudioDeviceMonitorTest, StartingTwiceKeepsTheFirstHandlerAndStoppingIdleDoesNothing) {
    AudioDeviceMonitor monitor(hardware_, log_.logger());
    monitor.stopMonitoring();
    EXPECT_TRUE(log_.lines().empty());

    monitor.startMonitoring(recorder_.handler());
    EventRecorder second;
    monitor.startMonitoring(second.handler());
    EXPECT_TRUE(log_.contains("INFO 监听已在运行中"));
    notifyFromAnotherThread({kPropertyDefaultInputDevice});
    EXPECT_EQ(recorder_.events().size(), 1u);
    EXPECT_TRUE(second.events().empty());

    // Started again after a stop, the new handler is used.
    monitor.stopMonitoring();
    monitor.startMonitoring(second.handler());
    notifyFromAnotherThread({kPropertyDefaultInputDevice});
    EXPECT_EQ(second.events().size(), 1u);
}

TEST_F(AudioDeviceMonitorTest, ALostConnectionIsLoggedAndTheListAfterReconnectIsReported) {
    AudioDeviceMonitor monitor(hardware_, log_.logger());
    monitor.startMonitoring(recorder_.handler());
    std::thread([&] {
        hardware_.notifyConnection(ServerConnection::lost);
        hardware_.notifyConnection(ServerConnection::restored);
        hardware_.notify({kPropertyDevices});  // what the hardware does after a reconnect
    }).join();
    EXPECT_TRUE(log_.contains("ERROR 与音频服务的连接已断开，等待重新连接"));
    EXPECT_TRUE(log_.contains("INFO 已重新连接音频服务"));
    EXPECT_EQ(recorder_.events().size(), 1u);

    monitor.stopMonitoring();
    log_.clear();
    hardware_.notifyConnection(ServerConnection::lost);
    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(AudioDeviceMonitorTest, StoppingWhileNotificationsArriveNeverReachesAGoneMonitor) {
    std::atomic<bool> done{false};
    std::thread notifier([&] {
        while (!done) hardware_.notify({kPropertyDevices, kPropertyDefaultInputDevice});
    });
    for (int round = 0; round < 50; ++round) {
        AudioDeviceMonitor monitor(hardware_, log_.logger());
        monitor.startMonitoring(recorder_.handler());
        std::this_thread::yield();
    }  // each monitor is destroyed while the notifier keeps going; the sanitizers catch a late call
    done = true;
    notifier.join();

    // Once its monitor is gone, a handler is never called again.
    const auto delivered = recorder_.events().size();
    hardware_.notify({kPropertyDevices, kPropertyDefaultInputDevice});
    EXPECT_EQ(recorder_.events().size(), delivered);
}

}  // namespace
}  // namespace portline
