// The PulseAudio backend against a real, private sound server, with pactl as the witness.
#include <gtest/gtest.h>

#include <cmath>

#include "audio-hardware/PulseAudio/DeviceIds.h"
#include "audio-hardware/PulseAudio/PulseAudioHardware.h"
#include "test-support/SoundServer.h"

using namespace audiohw;

namespace {

class PulseAudioHardwareTest : public ::testing::Test {
protected:
    testsupport::SoundServer server;
    PulseAudioHardware hardware{{"audio-hardware-tests", server.address()}};

    const DeviceID stereo = sinkDeviceID("test_stereo_sink");
    const DeviceID mono = sinkDeviceID("test_mono_sink");
    const DeviceID sourceA = sourceDeviceID("test_source_a");
};

// What the snapshot holds, how writes land and which changes a watch hears end to end are
// pinned by hushline's and portline's process tests; here what they cannot see.
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

}  // namespace
