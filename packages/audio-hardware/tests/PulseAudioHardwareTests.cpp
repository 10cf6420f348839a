// The PulseAudio backend against a real, private sound server, with pactl as the witness.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <regex>
#include <thread>

#include "audio-hardware/PulseAudio/DeviceIds.h"
#include "audio-hardware/PulseAudio/PulseAudioHardware.h"
#include "test-support/SoundServer.h"

using namespace audiohw;
using namespace std::chrono_literals;

namespace {

constexpr PropertyAddress global(PropertySelector selector) { return {selector, kScopeGlobal, kElementMain}; }
constexpr PropertyAddress output(PropertySelector selector, PropertyElement element = kElementMain) {
    return {selector, kScopeOutput, element};
}
constexpr PropertyAddress kInputStreams{kPropertyStreamConfiguration, kScopeInput, kElementMain};

template <typename Value>
Status read(AudioHardware& hardware, ObjectID object, const PropertyAddress& address, Value& value) {
    std::uint32_t size = sizeof value;
    return hardware.getPropertyData(object, address, size, &value);
}

template <typename Value>
Status write(AudioHardware& hardware, ObjectID object, const PropertyAddress& address, Value value) {
    return hardware.setPropertyData(object, address, sizeof value, &value);
}

std::vector<ObjectID> deviceIDs(AudioHardware& hardware) {
    std::uint32_t size = 0;
    EXPECT_EQ(hardware.getPropertyDataSize(kSystemObject, global(kPropertyDevices), size), kNoError);
    std::vector<ObjectID> ids(size / sizeof(ObjectID));
    EXPECT_EQ(hardware.getPropertyData(kSystemObject, global(kPropertyDevices), size, ids.data()), kNoError);
    ids.resize(size / sizeof(ObjectID));
    return ids;
}

std::string text(AudioHardware& hardware, ObjectID device, PropertySelector selector) {
    std::optional<std::string> value;
    EXPECT_EQ(hardware.getPropertyString(device, global(selector), value), kNoError);
    return value.value_or("<null>");
}

std::uint32_t inputChannels(AudioHardware& hardware, ObjectID device) {
    std::uint32_t size = 0;
    EXPECT_EQ(hardware.getPropertyDataSize(device, kInputStreams, size), kNoError);
    std::vector<std::byte> buffer(std::max<std::size_t>(size, sizeof(AudioBufferList)));
    EXPECT_EQ(hardware.getPropertyData(device, kInputStreams, size, buffer.data()), kNoError);
    const auto* list = reinterpret_cast<const AudioBufferList*>(buffer.data());
    std::uint32_t channels = 0;
    for (std::uint32_t index = 0; index < list->numberBuffers; ++index) channels += list->buffers[index].numberChannels;
    return channels;
}

std::string pactlLine(const testsupport::SoundServer& server, const std::vector<std::string>& arguments) {
    const auto result = server.pactl(arguments);
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    const auto lines = result.lines();
    return lines.empty() ? "" : lines.front();
}

// The raw channel volumes pactl reports for a sink.
std::vector<std::uint32_t> rawVolumes(const testsupport::SoundServer& server, const std::string& sink) {
    const std::string line = pactlLine(server, {"get-sink-volume", sink});
    static const std::regex channel(R"([\w-]+: (\d+) /)");
    std::vector<std::uint32_t> volumes;
    for (auto match = std::sregex_iterator(line.begin(), line.end(), channel); match != std::sregex_iterator(); ++match) {
        volumes.push_back(static_cast<std::uint32_t>(std::stoul((*match)[1])));
    }
    return volumes;
}

std::string selectorText(PropertySelector selector) {
    return {static_cast<char>(selector >> 24), static_cast<char>(selector >> 16), static_cast<char>(selector >> 8),
            static_cast<char>(selector)};
}

// What listeners and the connection observer were told, in order.
class Recorder {
public:
    void add(std::string event) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(event));
        }
        changed_.notify_all();
    }
    std::vector<std::string> waitFor(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return events_.size() >= count; });
        return events_;
    }
    std::vector<std::string> events() {
        std::lock_guard lock(mutex_);
        return events_;
    }

    static Status listener(ObjectID object, std::uint32_t count, const PropertyAddress* addresses, void* recorder) {
        EXPECT_EQ(object, kSystemObject);
        for (std::uint32_t index = 0; index < count; ++index) {
            static_cast<Recorder*>(recorder)->add(selectorText(addresses[index].selector));
        }
        return kNoError;
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

    const ObjectID stereo = sinkDeviceID("test_stereo_sink");
    const ObjectID mono = sinkDeviceID("test_mono_sink");
    const ObjectID sourceA = sourceDeviceID("test_source_a");
    const ObjectID sourceB = sourceDeviceID("test_source_b");
};

TEST_F(PulseAudioHardwareTest, ReadsTheServersDevicesAsPactlSeesThem) {
    // Sinks, then sources without monitors, in the server's order.
    EXPECT_EQ(deviceIDs(hardware), (std::vector<ObjectID>{stereo, mono, sourceA, sourceB}));
    for (const ObjectID device : deviceIDs(hardware)) EXPECT_TRUE(hardware.hasProperty(device, global(kPropertyName)));

    EXPECT_EQ(text(hardware, stereo, kPropertyName), "Test Stereo Output");
    EXPECT_EQ(text(hardware, stereo, kPropertyDeviceUID), "test_stereo_sink");
    EXPECT_EQ(text(hardware, sourceB, kPropertyName), "Test Microphone B");
    EXPECT_EQ(text(hardware, sourceB, kPropertyDeviceUID), "test_source_b");

    ObjectID defaultOutput = 0, defaultInput = 0;
    ASSERT_EQ(read(hardware, kSystemObject, global(kPropertyDefaultOutputDevice), defaultOutput), kNoError);
    ASSERT_EQ(read(hardware, kSystemObject, global(kPropertyDefaultInputDevice), defaultInput), kNoError);
    EXPECT_EQ(defaultOutput, sinkDeviceID(pactlLine(server, {"get-default-sink"})));
    EXPECT_EQ(defaultInput, sourceDeviceID(pactlLine(server, {"get-default-source"})));

    // Only sources record.
    EXPECT_EQ(inputChannels(hardware, sourceA), 2u);
    EXPECT_EQ(inputChannels(hardware, sourceB), 1u);
    EXPECT_EQ(inputChannels(hardware, stereo), 0u);

    // Volume and mute belong to sinks; a mono sink has one channel element.
    EXPECT_TRUE(hardware.hasProperty(stereo, output(kPropertyMute)));
    EXPECT_TRUE(hardware.hasProperty(stereo, output(kPropertyVirtualMainVolume)));
    EXPECT_TRUE(hardware.hasProperty(stereo, output(kPropertyVolumeScalar, 2)));
    EXPECT_TRUE(hardware.hasProperty(mono, output(kPropertyVolumeScalar, 1)));
    EXPECT_FALSE(hardware.hasProperty(mono, output(kPropertyVolumeScalar, 2)));
    EXPECT_FALSE(hardware.hasProperty(sourceA, output(kPropertyMute)));
    EXPECT_FALSE(hardware.hasProperty(stereo, {kPropertyMute, kScopeInput, kElementMain}));

    float volume = 0;
    EXPECT_EQ(read(hardware, sourceA, output(kPropertyVirtualMainVolume), volume), kErrorUnknownProperty);
    EXPECT_EQ(read(hardware, 12345678, output(kPropertyVirtualMainVolume), volume), kErrorBadObject);
    EXPECT_FALSE(hardware.hasProperty(sourceDeviceID("test_stereo_sink.monitor"), global(kPropertyName)));
}

TEST_F(PulseAudioHardwareTest, WritesTheDefaultDevicesThatPactlReports) {
    EXPECT_EQ(write(hardware, kSystemObject, global(kPropertyDefaultInputDevice), sourceB), kNoError);
    EXPECT_EQ(pactlLine(server, {"get-default-source"}), "test_source_b");
    EXPECT_EQ(write(hardware, kSystemObject, global(kPropertyDefaultOutputDevice), mono), kNoError);
    EXPECT_EQ(pactlLine(server, {"get-default-sink"}), "test_mono_sink");

    // A sink cannot record, an unknown id is no device: both refused, nothing changes.
    EXPECT_NE(write(hardware, kSystemObject, global(kPropertyDefaultInputDevice), stereo), kNoError);
    EXPECT_NE(write(hardware, kSystemObject, global(kPropertyDefaultInputDevice), ObjectID{12345679}), kNoError);
    EXPECT_NE(write(hardware, kSystemObject, global(kPropertyDefaultOutputDevice), sourceA), kNoError);
    EXPECT_NE(hardware.setPropertyData(kSystemObject, global(kPropertyDefaultInputDevice), 2, &sourceA), kNoError);
    EXPECT_EQ(pactlLine(server, {"get-default-source"}), "test_source_b");
    EXPECT_EQ(pactlLine(server, {"get-default-sink"}), "test_mono_sink");
}

TEST_F(PulseAudioHardwareTest, MuteAndVolumesReachTheSinkExactly) {
    std::uint32_t muted = 7;
    ASSERT_EQ(read(hardware, stereo, output(kPropertyMute), muted), kNoError);
    EXPECT_EQ(muted, 0u);
    ASSERT_EQ(write(hardware, stereo, output(kPropertyMute), std::uint32_t{1}), kNoError);
    EXPECT_EQ(pactlLine(server, {"get-sink-mute", "test_stereo_sink"}), "Mute: yes");
    ASSERT_EQ(read(hardware, stereo, output(kPropertyMute), muted), kNoError);
    EXPECT_EQ(muted, 1u);

    // An unbalanced sink: the main volume is the louder channel, and writing it keeps the balance.
    ASSERT_EQ(server.pactl({"set-sink-volume", "test_stereo_sink", "40000", "20000"}).exitStatus, 0);
    float main = 0, left = 0, right = 0;
    ASSERT_EQ(read(hardware, stereo, output(kPropertyVirtualMainVolume), main), kNoError);
    ASSERT_EQ(read(hardware, stereo, output(kPropertyVolumeScalar, 1), left), kNoError);
    ASSERT_EQ(read(hardware, stereo, output(kPropertyVolumeScalar, 2), right), kNoError);
    EXPECT_FLOAT_EQ(main, 40000.0f / 65536);
    EXPECT_FLOAT_EQ(left, 40000.0f / 65536);
    EXPECT_FLOAT_EQ(right, 20000.0f / 65536);
    ASSERT_EQ(write(hardware, stereo, output(kPropertyVirtualMainVolume), 0.5f), kNoError);
    EXPECT_EQ(rawVolumes(server, "test_stereo_sink"), (std::vector<std::uint32_t>{32768, 16384}));

    // Values read and written back come out as the same raw volumes.
    ASSERT_EQ(server.pactl({"set-sink-volume", "test_stereo_sink", "41287", "12345"}).exitStatus, 0);
    ASSERT_EQ(read(hardware, stereo, output(kPropertyVirtualMainVolume), main), kNoError);
    ASSERT_EQ(read(hardware, stereo, output(kPropertyVolumeScalar, 1), left), kNoError);
    ASSERT_EQ(read(hardware, stereo, output(kPropertyVolumeScalar, 2), right), kNoError);
    ASSERT_EQ(write(hardware, stereo, output(kPropertyVolumeScalar, 1), 0.0f), kNoError);
    ASSERT_EQ(write(hardware, stereo, output(kPropertyVolumeScalar, 2), 0.25f), kNoError);
    EXPECT_EQ(rawVolumes(server, "test_stereo_sink"), (std::vector<std::uint32_t>{0, 16384}));
    ASSERT_EQ(write(hardware, stereo, output(kPropertyVirtualMainVolume), main), kNoError);
    ASSERT_EQ(write(hardware, stereo, output(kPropertyVolumeScalar, 1), left), kNoError);
    ASSERT_EQ(write(hardware, stereo, output(kPropertyVolumeScalar, 2), right), kNoError);
    EXPECT_EQ(rawVolumes(server, "test_stereo_sink"), (std::vector<std::uint32_t>{41287, 12345}));

    // No volume can be negative or not a number; the sink keeps its volumes.
    EXPECT_NE(write(hardware, stereo, output(kPropertyVirtualMainVolume), -0.5f), kNoError);
    EXPECT_NE(write(hardware, stereo, output(kPropertyVolumeScalar, 1), std::nanf("")), kNoError);
    EXPECT_EQ(hardware.setPropertyData(stereo, output(kPropertyMute), 1, &muted), kErrorBadPropertySize);
    EXPECT_EQ(rawVolumes(server, "test_stereo_sink"), (std::vector<std::uint32_t>{41287, 12345}));
    EXPECT_NE(write(hardware, sourceA, global(kPropertyName), 0.5f), kNoError);
}

TEST_F(PulseAudioHardwareTest, ReadsRightAfterAChangeSeeIt) {
    // Calls close together share one answer from the server; no change may hide behind it.
    std::uint32_t muted = 7;
    float main = 0;
    ObjectID device = 0;
    ASSERT_EQ(read(hardware, stereo, output(kPropertyMute), muted), kNoError);
    ASSERT_EQ(write(hardware, stereo, output(kPropertyMute), std::uint32_t{1}), kNoError);
    ASSERT_EQ(read(hardware, stereo, output(kPropertyMute), muted), kNoError);
    EXPECT_EQ(muted, 1u);
    ASSERT_EQ(write(hardware, stereo, output(kPropertyVirtualMainVolume), 0.25f), kNoError);
    ASSERT_EQ(read(hardware, stereo, output(kPropertyVirtualMainVolume), main), kNoError);
    EXPECT_FLOAT_EQ(main, 0.25f);
    ASSERT_EQ(write(hardware, kSystemObject, global(kPropertyDefaultInputDevice), sourceB), kNoError);
    ASSERT_EQ(read(hardware, kSystemObject, global(kPropertyDefaultInputDevice), device), kNoError);
    EXPECT_EQ(device, sourceB);

    // Another process changes the server between two of our reads.
    for (std::uint32_t round = 0; round < 10; ++round) {
        const std::uint32_t raw = 20000 + round * 1000;
        const std::string source = round % 2 == 0 ? "test_source_a" : "test_source_b";
        ASSERT_EQ(read(hardware, stereo, output(kPropertyVirtualMainVolume), main), kNoError);
        ASSERT_EQ(read(hardware, kSystemObject, global(kPropertyDefaultInputDevice), device), kNoError);
        ASSERT_EQ(server.pactl({"set-sink-volume", "test_stereo_sink", std::to_string(raw)}).exitStatus, 0);
        ASSERT_EQ(read(hardware, stereo, output(kPropertyVirtualMainVolume), main), kNoError);
        EXPECT_FLOAT_EQ(main, static_cast<float>(raw) / 65536);
        ASSERT_EQ(server.pactl({"set-default-source", source}).exitStatus, 0);
        ASSERT_EQ(read(hardware, kSystemObject, global(kPropertyDefaultInputDevice), device), kNoError);
        EXPECT_EQ(device, sourceDeviceID(source));
    }
    ASSERT_EQ(server.pactl({"load-module", "module-null-source", "source_name=fresh_source"}).exitStatus, 0);
    const auto devices = deviceIDs(hardware);
    EXPECT_NE(std::find(devices.begin(), devices.end(), sourceDeviceID("fresh_source")), devices.end());
}

TEST_F(PulseAudioHardwareTest, MonoSinkHasOneChannel) {
    ASSERT_EQ(write(hardware, mono, output(kPropertyVolumeScalar, 1), 0.75f), kNoError);
    EXPECT_EQ(rawVolumes(server, "test_mono_sink"), (std::vector<std::uint32_t>{49152}));
    float main = 0;
    ASSERT_EQ(read(hardware, mono, output(kPropertyVirtualMainVolume), main), kNoError);
    EXPECT_FLOAT_EQ(main, 0.75f);
    EXPECT_EQ(write(hardware, mono, output(kPropertyVolumeScalar, 2), 0.5f), kErrorUnknownProperty);
    ASSERT_EQ(write(hardware, mono, output(kPropertyVirtualMainVolume), 0.0f), kNoError);
    EXPECT_EQ(rawVolumes(server, "test_mono_sink"), (std::vector<std::uint32_t>{0}));
}

TEST_F(PulseAudioHardwareTest, DeviceIdsStayTheSameAcrossProcessesAndRestarts) {
    // Pure functions of the name: the same in every process and build.
    EXPECT_EQ(sinkDeviceID("test_stereo_sink"), 1177129464u);
    EXPECT_EQ(sourceDeviceID("test_source_a"), 1866100703u);
    EXPECT_NE(sinkDeviceID("same_name"), sourceDeviceID("same_name"));
    EXPECT_GT(sinkDeviceID(""), 1u);

    const auto before = deviceIDs(hardware);
    server.stop();
    server.start();
    PulseAudioHardware another({"audio-hardware-tests", server.address()});
    EXPECT_EQ(deviceIDs(another), before);
}

TEST_F(PulseAudioHardwareTest, ListenersHearDefaultAndDeviceListChangesInOrder) {
    Recorder recorder, removed;
    for (const PropertySelector selector : {kPropertyDevices, kPropertyDefaultInputDevice, kPropertyDefaultOutputDevice}) {
        ASSERT_EQ(hardware.addPropertyListener(kSystemObject, global(selector), Recorder::listener, &recorder), kNoError);
    }
    ASSERT_EQ(hardware.addPropertyListener(kSystemObject, global(kPropertyDevices), Recorder::listener, &removed),
              kNoError);
    ASSERT_EQ(hardware.removePropertyListener(kSystemObject, global(kPropertyDevices), Recorder::listener, &removed),
              kNoError);
    EXPECT_NE(hardware.addPropertyListener(12, global(kPropertyDevices), Recorder::listener, &recorder), kNoError);

    ASSERT_EQ(server.pactl({"set-default-source", "test_source_b"}).exitStatus, 0);
    ASSERT_EQ(server.pactl({"set-default-source", "test_source_b"}).exitStatus, 0);  // no change, no event
    const auto loaded = server.pactl({"load-module", "module-null-source", "source_name=extra_source"});
    ASSERT_EQ(loaded.exitStatus, 0);
    ASSERT_EQ(server.pactl({"unload-module", loaded.lines().at(0)}).exitStatus, 0);
    // A sink brings its monitor source, which is no device: one change.
    ASSERT_EQ(server.pactl({"load-module", "module-null-sink", "sink_name=extra_sink"}).exitStatus, 0);
    ASSERT_EQ(server.pactl({"set-default-sink", "test_mono_sink"}).exitStatus, 0);

    const std::vector<std::string> expected{"dIn ", "dev#", "dev#", "dev#", "dOut"};
    EXPECT_EQ(recorder.waitFor(expected.size(), 5s), expected);
    EXPECT_TRUE(removed.events().empty());

    for (const PropertySelector selector : {kPropertyDevices, kPropertyDefaultInputDevice, kPropertyDefaultOutputDevice}) {
        EXPECT_EQ(hardware.removePropertyListener(kSystemObject, global(selector), Recorder::listener, &recorder),
                  kNoError);
    }
}

TEST_F(PulseAudioHardwareTest, ListenersMayCallBackIntoTheHardware) {
    struct Probe {
        AudioHardware* hardware;
        Recorder recorder;
    } probe{&hardware, {}};
    const auto listener = [](ObjectID, std::uint32_t, const PropertyAddress*, void* data) -> Status {
        auto* self = static_cast<Probe*>(data);
        std::optional<std::string> uid;
        ObjectID device = 0;
        read(*self->hardware, kSystemObject, global(kPropertyDefaultInputDevice), device);
        self->hardware->getPropertyString(device, global(kPropertyDeviceUID), uid);
        self->recorder.add(uid.value_or("none"));
        return kNoError;
    };
    ASSERT_EQ(hardware.addPropertyListener(kSystemObject, global(kPropertyDefaultInputDevice), listener, &probe),
              kNoError);
    ASSERT_EQ(server.pactl({"set-default-source", "test_source_b"}).exitStatus, 0);
    EXPECT_EQ(probe.recorder.waitFor(1, 5s), std::vector<std::string>{"test_source_b"});
    EXPECT_EQ(hardware.removePropertyListener(kSystemObject, global(kPropertyDefaultInputDevice), listener, &probe),
              kNoError);
}

TEST_F(PulseAudioHardwareTest, ReconnectsAfterTheServerRestarts) {
    Recorder recorder;
    hardware.setConnectionObserver([&](ServerConnection change) {
        recorder.add(change == ServerConnection::lost ? "lost" : "restored");
    });
    ASSERT_EQ(hardware.addPropertyListener(kSystemObject, global(kPropertyDevices), Recorder::listener, &recorder),
              kNoError);
    const auto before = deviceIDs(hardware);

    server.stop();
    EXPECT_EQ(recorder.waitFor(1, 2s), std::vector<std::string>{"lost"});
    ObjectID device = 0;
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_NE(read(hardware, kSystemObject, global(kPropertyDefaultOutputDevice), device), kNoError);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);

    server.start();
    // Back within two seconds, and the device list is announced once.
    EXPECT_EQ(recorder.waitFor(3, 2s), (std::vector<std::string>{"lost", "restored", "dev#"}));
    EXPECT_EQ(deviceIDs(hardware), before);
    ASSERT_EQ(server.pactl({"set-default-source", "test_source_b"}).exitStatus, 0);
    ASSERT_EQ(read(hardware, kSystemObject, global(kPropertyDefaultInputDevice), device), kNoError);
    EXPECT_EQ(device, sourceB);

    // Events flow again on the new connection.
    ASSERT_EQ(server.pactl({"load-module", "module-null-source", "source_name=late_source"}).exitStatus, 0);
    EXPECT_EQ(recorder.waitFor(4, 5s).back(), "dev#");
    hardware.setConnectionObserver({});
    EXPECT_EQ(hardware.removePropertyListener(kSystemObject, global(kPropertyDevices), Recorder::listener, &recorder),
              kNoError);
}

TEST_F(PulseAudioHardwareTest, AStoppedServerProcessDoesNotHangCalls) {
    const pid_t pid = server.serverPid();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, SIGSTOP), 0);
    ObjectID device = 0;
    const auto asked = std::chrono::steady_clock::now();
    const Status status = read(hardware, kSystemObject, global(kPropertyDefaultOutputDevice), device);
    const auto waited = std::chrono::steady_clock::now() - asked;
    kill(pid, SIGCONT);
    EXPECT_NE(status, kNoError);
    EXPECT_LT(waited, 1s);
    ASSERT_EQ(read(hardware, kSystemObject, global(kPropertyDefaultOutputDevice), device), kNoError);
    EXPECT_EQ(device, stereo);
}

TEST(PulseAudioHardwareWithoutServer, EveryCallFailsQuickly) {
    PulseAudioHardware hardware({"audio-hardware-tests", "unix:/nonexistent/tessaryn/native"});
    const auto started = std::chrono::steady_clock::now();
    ObjectID device = 0;
    std::uint32_t size = 0;
    std::optional<std::string> name;
    EXPECT_NE(read(hardware, kSystemObject, global(kPropertyDefaultOutputDevice), device), kNoError);
    EXPECT_NE(read(hardware, kSystemObject, global(kPropertyDefaultInputDevice), device), kNoError);
    EXPECT_NE(hardware.getPropertyDataSize(kSystemObject, global(kPropertyDevices), size), kNoError);
    EXPECT_FALSE(hardware.hasProperty(sinkDeviceID("test_stereo_sink"), output(kPropertyMute)));
    EXPECT_NE(hardware.getPropertyString(sinkDeviceID("test_stereo_sink"), global(kPropertyName), name), kNoError);
    EXPECT_NE(write(hardware, kSystemObject, global(kPropertyDefaultInputDevice), sourceDeviceID("test_source_a")),
              kNoError);
    EXPECT_NE(write(hardware, sinkDeviceID("test_stereo_sink"), output(kPropertyMute), std::uint32_t{1}), kNoError);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
}

}  // namespace
