// The PulseAudio backend against a real, private sound server, with pactl as the witness.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>

#include "audio-hardware/PulseAudio/DeviceIds.h"
#include "audio-hardware/PulseAudio/PulseAudioHardware.h"
#include "test-support/SoundServer.h"

using namespace audiohw;
using namespace std::chrono_literals;

namespace {

const char* nameOf(HardwareChange change) {
    switch (change) {
        case HardwareChange::devices: return "devices";
        case HardwareChange::defaultInput: return "default-input";
        case HardwareChange::defaultOutput: return "default-output";
        case HardwareChange::serverLost: return "lost";
        case HardwareChange::serverRestored: return "restored";
    }
    return "?";
}

// What a watch was told, in order.
class Recorder {
public:
    ChangeCallback callback() {
        return [this](HardwareChange change) { add(nameOf(change)); };
    }
    void add(std::string event) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(event));
        }
        changed_.notify_all();
    }
    // Waits only to guard against a hang; the events are compared, not the time.
    std::vector<std::string> waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 5s, [&] { return events_.size() >= count; });
        return events_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
};

class PulseAudioHardwareTest : public ::testing::Test {
protected:
    testsupport::SoundServer server;
    PulseAudioHardware hardware{{"audio-hardware-tests", server.address()}};

    const DeviceID stereo = sinkDeviceID("test_stereo_sink");
    const DeviceID mono = sinkDeviceID("test_mono_sink");
    const DeviceID sourceA = sourceDeviceID("test_source_a");
};

// What the snapshot holds and how writes land end to end is pinned by hushline's and
// portline's process tests; here what they cannot see.
TEST_F(PulseAudioHardwareTest, IdsArePureFunctionsOfTheNameAndImpossibleWritesAreRefused) {
    // The same in every process, build and server run: a record on disk names its device by one.
    EXPECT_EQ(stereo, 1177129464u);
    EXPECT_EQ(sourceA, 1866100703u);
    EXPECT_NE(sinkDeviceID("same_name"), sourceDeviceID("same_name"));
    EXPECT_GT(sinkDeviceID(""), 1u);
    EXPECT_EQ(hardware.snapshot()->devices.at(2).id, sourceA);

    EXPECT_FALSE(hardware.setDefaultInput("test_stereo_sink"));  // a sink cannot record
    EXPECT_FALSE(hardware.setDefaultInput("no_such_source"));
    EXPECT_EQ(server.pactlOutput({"get-default-source"}), "test_source_a");

    // The main volume scales the channels and keeps the balance; channels are written from the first.
    server.pactlOutput({"set-sink-volume", "test_stereo_sink", "40000", "20000"});
    EXPECT_TRUE(hardware.setVolumes(stereo, MainVolume{0.5F}));
    EXPECT_EQ(server.rawSinkVolumes("test_stereo_sink"), (std::vector<std::uint32_t>{32768, 16384}));
    EXPECT_TRUE(hardware.setVolumes(stereo, ChannelVolumes{{0.75F}}));
    EXPECT_EQ(server.rawSinkVolumes("test_stereo_sink"), (std::vector<std::uint32_t>{49152, 16384}));

    // What no sink can take changes nothing: negative, NaN, too many channels, no sink.
    EXPECT_FALSE(hardware.setVolumes(stereo, MainVolume{-0.5F}));
    EXPECT_FALSE(hardware.setVolumes(stereo, ChannelVolumes{{std::nanf("")}}));
    EXPECT_FALSE(hardware.setVolumes(mono, ChannelVolumes{{0.5F, 0.5F}}));
    EXPECT_FALSE(hardware.setVolumes(sourceA, MainVolume{0.5F}));
    EXPECT_FALSE(hardware.setMute(12345678, true));
    EXPECT_EQ(server.rawSinkVolumes("test_stereo_sink"), (std::vector<std::uint32_t>{49152, 16384}));
    EXPECT_EQ(server.rawSinkVolumes("test_mono_sink"), (std::vector<std::uint32_t>{65536}));
}

TEST_F(PulseAudioHardwareTest, AWatchHearsChangesInOrderAndMayReadTheHardware) {
    Recorder recorder, ended;
    Watch watch = hardware.watch([&](HardwareChange change) {
        std::string event = nameOf(change);
        // Watchers run where they may read: the default as the server has it now.
        if (change == HardwareChange::defaultInput) {
            const auto state = hardware.snapshot();
            event += " " + state->defaultInputDevice()->uid;
        }
        recorder.add(event);
    });
    hardware.watch(ended.callback()).end();

    server.pactlOutput({"set-default-source", "test_source_b"});
    server.pactlOutput({"set-default-source", "test_source_b"});  // no change, no event
    const std::string loaded = server.pactlOutput({"load-module", "module-null-source", "source_name=extra_source"});
    server.pactlOutput({"unload-module", loaded});
    // A sink brings its monitor source, which is no device: one change.
    server.pactlOutput({"load-module", "module-null-sink", "sink_name=extra_sink"});
    server.pactlOutput({"set-default-sink", "test_mono_sink"});
    server.pactlOutput({"set-sink-volume", "test_mono_sink", "50%"});  // not watched
    server.pactlOutput({"set-default-source", "test_source_a"});

    const std::vector<std::string> expected{"default-input test_source_b", "devices", "devices", "devices",
                                            "default-output", "default-input test_source_a"};
    EXPECT_EQ(recorder.waitFor(expected.size()), expected);
    EXPECT_EQ(ended.waitFor(0), std::vector<std::string>{});
}

}  // namespace
