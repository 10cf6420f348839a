#include <csignal>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "audio-hardware/PulseAudio/DeviceIds.h"
#include "cli-frame/Json/Json.h"
#include "test-support/ChildProcess.h"
#include "test-support/SilentSocket.h"
#include "test-support/SoundServer.h"
#include "test-support/TemporaryHome.h"

namespace hushline {
namespace {

using cli::Json;
using namespace std::chrono_literals;
using testsupport::readFile;
using testsupport::Environment;

const std::string kStereo = "test_stereo_sink";

// A raw server volume as the tool reports it: the device's 32-bit scalar, widened.
double scalar(std::uint32_t raw) { return static_cast<double>(static_cast<float>(raw / 65536.0)); }

// The built tool against a sound server of its own, with pactl as the witness.
class HushlineProcess : public ::testing::Test {
protected:
    testsupport::ProcessOptions options(std::vector<std::string> arguments, const Environment& extra = {}) {
        return {std::move(arguments), testsupport::merged({home_.environment(), server_.environment(),
                                                           {{"AUDIO_MUTE_CLI_LOG_PATH", logFile().string()}}, extra})};
    }

    // Every invocation ends with status 0, writes one line and nothing on standard error.
    Json run(std::vector<std::string> arguments, const Environment& extra = {}) {
        const auto result = testsupport::runProcess(HUSHLINE_BINARY, options(std::move(arguments), extra), {}, 10s);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.standardError, "");
        const auto lines = result.lines();
        EXPECT_EQ(lines.size(), 1U) << result.standardOutput;
        return lines.empty() ? Json() : Json::parse(lines.front());
    }

    std::string pactl(const std::vector<std::string>& arguments) { return server_.pactlOutput(arguments); }

    // Everything pactl says about a sink's volumes and mute switch, raw values included.
    std::string sinkState(const std::string& sink) {
        return pactl({"get-sink-volume", sink}) + "\n" + pactl({"get-sink-mute", sink});
    }

    void setSink(const std::string& sink, std::vector<std::string> volumes, bool muted) {
        volumes.insert(volumes.begin(), {"set-sink-volume", sink});
        pactl(volumes);
        pactl({"set-sink-mute", sink, muted ? "1" : "0"});
    }

    bool pactlSaysMuted(const std::string& sink) { return pactl({"get-sink-mute", sink}) == "Mute: yes"; }

    // What `status` must say about a sink, from pactl alone.
    Json expectedStatus(const std::string& sink, const std::string& description, bool pending) {
        const auto raw = server_.rawSinkVolumes(sink);
        Json data = {{"deviceId", audiohw::sinkDeviceID(sink)},
                     {"deviceName", description},
                     {"mainVolume", scalar(*std::max_element(raw.begin(), raw.end()))},
                     {"leftVolume", scalar(raw.at(0))}};
        if (raw.size() > 1) data["rightVolume"] = scalar(raw.at(1));
        data["muted"] = pactlSaysMuted(sink);
        data["hasPendingSnapshot"] = pending;
        return data;
    }

    std::filesystem::path stateFile() const { return home_.dataHome() / "tessaryn" / "system-audio-cli" / "state.json"; }
    std::filesystem::path logFile() const { return home_.path() / "logs" / "hushline.log"; }

    testsupport::TemporaryHome home_;
    testsupport::SoundServer server_;
};

TEST_F(HushlineProcess, MuteTwiceThenRestoreLeavesEachSinkAsBeforeTheFirstMute) {
    for (const auto& [sink, description, volumes, mutedBefore] :
         std::vector<std::tuple<std::string, std::string, std::vector<std::string>, bool>>{
             {kStereo, "Test Stereo Output", {"39321", "20000"}, false},
             {"test_mono_sink", "Test Mono Output", {"45001"}, false},
             {kStereo, "Test Stereo Output", {"70000", "12345"}, true}}) {
        SCOPED_TRACE(sink + " " + volumes.front());
        pactl({"set-default-sink", sink});
        setSink(sink, volumes, mutedBefore);
        const std::string before = sinkState(sink);
        const Json status = expectedStatus(sink, description, false);
        EXPECT_EQ(run({"status"}).at("payload").at("data"), status);

        Json previous = {{"main", status.at("mainVolume")}, {"left", status.at("leftVolume")}};
        if (status.contains("rightVolume")) previous["right"] = status.at("rightVolume");
        previous["muted"] = mutedBefore;
        const Json device = {{"deviceId", audiohw::sinkDeviceID(sink)}, {"deviceName", description}};
        Json muted = device;
        muted.update({{"method", "mute-property"}, {"previousVolumes", previous}});
        // The second mute keeps the record of the first: it is what the user had.
        for (int time = 0; time < 2; ++time) {
            const Json line = run({"mute"}).at("payload");
            EXPECT_EQ(line.at("stage"), "muted");
            EXPECT_EQ(line.at("data"), muted);
        }
        EXPECT_TRUE(pactlSaysMuted(sink));
        EXPECT_EQ(pactl({"get-sink-volume", sink}), before.substr(0, before.find("\nMute:")));
        EXPECT_EQ(run({"no-such-command"}).at("payload").at("data"), expectedStatus(sink, description, true));

        const Json restored = run({"restore"}).at("payload");
        EXPECT_EQ(restored.at("stage"), "restored");
        Json restoredData = device;
        restoredData.update({{"usedSnapshot", true}, {"fallbackApplied", false}});
        EXPECT_EQ(restored.at("data"), restoredData);
        EXPECT_EQ(sinkState(sink), before);
        EXPECT_FALSE(std::filesystem::exists(stateFile()));
        EXPECT_EQ(run({}).at("payload").at("data"), expectedStatus(sink, description, false));
    }

    const std::string log = readFile(logFile());
    for (const char* line : {"] [INFO] 静音完成 device=Test Mono Output 方法=mute-property\n",
                             "] [INFO] 保留尚未恢复的静音快照\n", "] [INFO] 按照快照恢复完成\n"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(log.find("[ERROR]"), std::string::npos) << log;

    // Nothing left to restore: the safety volume.
    const Json again = run({"restore"}).at("payload");
    EXPECT_EQ(again.at("code"), "apple_audio_state_missing");
    EXPECT_EQ(again.at("details").at("fallbackApplied"), true);
    EXPECT_EQ(server_.rawSinkVolumes(kStereo), (std::vector<std::uint32_t>{32768, 32768}));
    EXPECT_FALSE(pactlSaysMuted(kStereo));

    // A mute that cannot keep its record leaves the sink alone.
    std::filesystem::create_directories(stateFile());
    const std::string untouched = sinkState(kStereo);
    EXPECT_EQ(run({"mute"}).at("payload").at("code"), "apple_audio_mute_failed");
    EXPECT_EQ(sinkState(kStereo), untouched);
    EXPECT_NE(readFile(logFile()).find("] [ERROR] 静音快照未能保存，放弃本次静音\n"), std::string::npos);
}

TEST_F(HushlineProcess, EightMutesAtOnceThenARestoreLeaveTheSinkAsBeforeTheFirst) {
    std::mt19937 random(14);
    std::uniform_int_distribution<int> volume(1000, 90000);
    for (int round = 0; round < 4; ++round) {
        setSink(kStereo, {std::to_string(volume(random)), std::to_string(volume(random))}, round == 3);
        const std::string before = sinkState(kStereo);
        std::vector<std::unique_ptr<testsupport::ChildProcess>> mutes;
        for (int index = 0; index < 8; ++index)
            mutes.push_back(std::make_unique<testsupport::ChildProcess>(HUSHLINE_BINARY, options({"mute"})));
        for (auto& mute : mutes) {
            const auto result = mute->wait(20s);
            EXPECT_NE(result.standardOutput.find(R"("stage":"muted")"), std::string::npos) << result.standardOutput;
            EXPECT_EQ(result.standardError, "");
        }
        EXPECT_TRUE(pactlSaysMuted(kStereo));
        EXPECT_EQ(run({"restore"}).at("payload").at("stage"), "restored");
        EXPECT_EQ(sinkState(kStereo), before) << "round " << round;
    }
}

// Whenever a mute is killed, the sink is either untouched or recorded: a restore then
// brings back exactly what was there.
TEST_F(HushlineProcess, AMuteKilledAtAnyMomentNeverLeavesASilencedSinkWithoutARecord) {
    setSink(kStereo, {"40000", "30000"}, false);
    const std::string before = sinkState(kStereo);
    // Kills spread over the length of one whole mute, measured here, not assumed.
    const auto start = std::chrono::steady_clock::now();
    run({"mute"});
    const auto length = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    run({"restore"});

    std::mt19937 random(14);
    std::uniform_int_distribution<long> delay(0, length.count() * 3 / 2);
    for (int round = 0; round < 60; ++round) {
        testsupport::ChildProcess mute(HUSHLINE_BINARY, options({"mute"}));
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        mute.signal(SIGKILL);
        mute.wait(10s);
        const bool recorded = std::filesystem::exists(stateFile());
        ASSERT_TRUE(recorded || !pactlSaysMuted(kStereo)) << "round " << round;
        if (recorded) {
            EXPECT_EQ(run({"restore"}).at("payload").at("stage"), "restored");
        }
        ASSERT_EQ(sinkState(kStereo), before) << "round " << round;
    }
}

TEST_F(HushlineProcess, ARestoreOntoAnotherSinkFallsBackThere) {
    server_.addSink("usb_sink", "USB/Dock", 2);
    pactl({"set-default-sink", "usb_sink"});
    setSink("usb_sink", {"30000", "40000"}, false);
    EXPECT_EQ(run({"mute"}).at("payload").at("data").at("deviceName"), "USB/Dock");
    // The file escapes the slash; the output line does not.
    EXPECT_NE(readFile(stateFile()).find(R"("deviceName":"USB\/Dock")"), std::string::npos) << readFile(stateFile());

    // Another sink takes over as default: its own volumes are not touched but the safety volume is applied.
    server_.removeDevice("usb_sink");
    pactl({"set-default-sink", "test_mono_sink"});
    setSink("test_mono_sink", {"1000"}, true);
    EXPECT_EQ(run({"restore"}).dump(),
              R"({"type":"error","payload":{"code":"apple_audio_restore_failed","message":"恢复系统音量失败。","logPath":")" +
                  logFile().string() + R"(","details":{"deviceId":)" + std::to_string(audiohw::sinkDeviceID("test_mono_sink")) +
                  R"(,"deviceName":"Test Mono Output","usedSnapshot":true,"fallbackApplied":true}}})");
    EXPECT_EQ(server_.rawSinkVolumes("test_mono_sink"), std::vector<std::uint32_t>{32768});
    EXPECT_FALSE(pactlSaysMuted("test_mono_sink"));
    EXPECT_FALSE(std::filesystem::exists(stateFile()));
    EXPECT_NE(readFile(logFile()).find("] [ERROR] 恢复失败：恢复系统音量失败。\n"), std::string::npos);

}

// No sink, no server, a server that never answers: nothing reached a device, so the record stays.
TEST_F(HushlineProcess, WithoutASinkOrAWorkingServerARestoreKeepsTheRecordAndADamagedValueCostsOnlyItself) {
    // Written by another tool: two volumes no device could give, one bare NaN.
    const std::string record = R"({"deviceID":)" + std::to_string(audiohw::sinkDeviceID(kStereo)) +
                               R"(,"mainVolume":-1,"leftVolume":NaN,"rightVolume":0.25,"muted":false,"createdAt":1})";
    testsupport::writeFile(stateFile(), record);
    server_.removeDevice("test_stereo_sink");
    server_.removeDevice("test_mono_sink");
    const std::filesystem::path stalledSocket = home_.path() / "stalled.sock";
    const testsupport::SilentSocket stalled(stalledSocket);
    for (const std::string situation : {"no sink", "no server", "a stalled server"}) {
        SCOPED_TRACE(situation);
        const Environment server = situation == "a stalled server" ? Environment{{"PULSE_SERVER", "unix:" + stalledSocket.string()}}
                                                                   : Environment{};
        EXPECT_EQ(run({"status"}, server).at("payload").at("data"), (Json{{"deviceId", 0}, {"hasPendingSnapshot", true}}));
        EXPECT_EQ(readFile(logFile()).find("[ERROR] 声音服务器无法连接或没有应答\n") != std::string::npos,
                  situation != "no sink");
        std::filesystem::remove(logFile());
        const Json restore = run({"restore"}, server).at("payload");
        EXPECT_EQ(restore.at("code"), "apple_audio_device_unavailable");
        EXPECT_EQ(restore.at("message"), "未找到默认输出设备。");
        EXPECT_EQ(restore.at("details"), (Json{{"deviceId", 0}, {"usedSnapshot", true}, {"fallbackApplied", false}}));
        const Json mute = run({"mute"}, server).at("payload");
        EXPECT_EQ(mute.at("code"), "apple_audio_device_unavailable");
        EXPECT_FALSE(mute.contains("details"));
        EXPECT_EQ(readFile(stateFile()), record);
        if (situation == "no sink") server_.stop();
    }

    // Back with the server: the usable values go back, the damaged ones are left alone.
    server_.start();
    setSink(kStereo, {"40000", "30000"}, true);
    EXPECT_EQ(run({"restore"}).at("payload").at("stage"), "restored");
    EXPECT_EQ(server_.rawSinkVolumes(kStereo), (std::vector<std::uint32_t>{40000, 16384}));
    EXPECT_FALSE(pactlSaysMuted(kStereo));
    EXPECT_FALSE(std::filesystem::exists(stateFile()));
}

}  // namespace
}  // namespace hushline
