// The monitor over the in-memory hardware; the watch against the real server is a process test.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "audio-hardware/Testing/InMemoryAudioHardware.h"
#include "cli-frame/Json/Json.h"
#include "portline/Audio/AudioDeviceMonitor.h"
#include "cli-frame/Testing/RecordingLogger.h"

namespace portline {
namespace {

using namespace audiohw;

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
        hardware_.update([](HardwareSnapshot& state) {
            state.devices = {InMemoryAudioHardware::output(10, "Speakers", "speakers", {1.0F}),
                             InMemoryAudioHardware::input(11, "Mic", "mic", 1)};
            state.defaultInput = 11;
        });
    }

    // The hardware announces on a thread of its own, as the real one does.
    void announceFromAnotherThread(std::vector<HardwareChange> changes) {
        std::thread([&] {
            for (const HardwareChange change : changes) hardware_.announce(change);
        }).join();
    }

    InMemoryAudioHardware hardware_;
    cli::RecordingLogger log_;
    EventRecorder recorder_;
};

// Events in order against a real server are the watch's process tests; here what it cannot do.
TEST_F(AudioDeviceMonitorTest, FailedReadsAreLoggedWithoutAnEventAndOnlyTheRunningHandlerHears) {
    AudioDeviceMonitor monitor(hardware_, log_.logger());
    monitor.stopMonitoring();  // not running: nothing happens
    EXPECT_TRUE(log_.lines().empty());
    monitor.startMonitoring(recorder_.handler());
    EventRecorder second;
    monitor.startMonitoring(second.handler());  // running: the first handler stays
    EXPECT_TRUE(log_.contains("INFO 监听已在运行中"));

    hardware_.failReads(true);
    announceFromAnotherThread({HardwareChange::defaultInput, HardwareChange::devices});
    EXPECT_TRUE(log_.contains("ERROR 获取默认设备失败: 未找到默认输入设备"));
    EXPECT_TRUE(log_.contains("ERROR 获取设备列表失败: 枚举音频设备失败"));
    hardware_.failReads(false);
    announceFromAnotherThread({HardwareChange::defaultInput,     // nothing changed: still an event
                               HardwareChange::defaultOutput});  // not watched
    EXPECT_EQ(recorder_.events(), std::vector<std::string>{
                                      R"(default-device-changed {"device":{"uid":"mic","name":"Mic","isDefault":true}})"});

    monitor.stopMonitoring();
    announceFromAnotherThread({HardwareChange::devices, HardwareChange::serverLost});
    EXPECT_EQ(recorder_.events().size(), 1u);
    EXPECT_TRUE(second.events().empty());
    // Started again after a stop, the new handler is used.
    monitor.startMonitoring(second.handler());
    announceFromAnotherThread({HardwareChange::devices});
    EXPECT_EQ(second.events().size(), 1u);
}

TEST_F(AudioDeviceMonitorTest, StoppingWhileChangesArriveNeverReachesAGoneMonitor) {
    std::atomic<bool> done{false};
    std::thread announcer([&] {
        while (!done) hardware_.announce(HardwareChange::devices);
    });
    for (int round = 0; round < 50; ++round) {
        AudioDeviceMonitor monitor(hardware_, log_.logger());
        monitor.startMonitoring(recorder_.handler());
    }  // each monitor is destroyed while the announcer keeps going; the sanitizers catch a late call
    done = true;
    announcer.join();

    // Once its monitor is gone, a handler is never called again.
    const auto delivered = recorder_.events().size();
    hardware_.announce(HardwareChange::devices);
    EXPECT_EQ(recorder_.events().size(), delivered);
}

}  // namespace
}  // namespace portline
