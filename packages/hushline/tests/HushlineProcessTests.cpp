#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio-hardware/PulseAudio/DeviceIds.h"
#include "cli-frame/Json/Json.h"
#include "test-support/ChildProcess.h"
#include "test-support/SoundServer.h"
#include "test-support/TemporaryHome.h"

namespace hushline {
namespace {

using cli::Json;
using testsupport::readFile;

constexpr double kNormalVolume = 65536.0;

// A raw server volume as the tool reports it: the device's 32-bit scalar, widened.
double scalar(std::uint32_t raw) { return static_cast<double>(static_cast<float>(raw / kNormalVolume)); }

// The built tool against a sound server of its own, with pactl as the witness.
class HushlineProcess : public ::testing::Test {
protected:
    // Every invocation ends with status 0, writes one line and nothing on standard error.
    Json run(std::vector<std::string> arguments) {
        auto environment = home_.environment();
        for (const auto& [name, value] : server_.environment()) environment[name] = value;
        environment["AUDIO_MUTE_CLI_LOG_PATH"] = logFile().string();
        const auto result = testsupport::runProcess(HUSHLINE_BINARY, {std::move(arguments), environment}, {},
                                                    std::chrono::seconds(10));
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.standardError, "");
        const auto lines = result.lines();
        EXPECT_EQ(lines.size(), 1U) << result.standardOutput;
        return lines.empty() ? Json() : Json::parse(lines.front());
    }

    std::string pactl(const std::vector<std::string>& arguments) {
        const auto result = server_.pactl(arguments);
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        return result.standardOutput;
    }

    // Everything pactl says about a sink's volumes and mute switch, raw values included.
    std::string sinkState(const std::string& sink) {
        return pactl({"get-sink-volume", sink}) + pactl({"get-sink-mute", sink});
    }

    std::vector<std::uint32_t> rawVolumes(const std::string& sink) {
        const std::string line = pactl({"get-sink-volume", sink});
        static const std::regex channel(R"([\w-]+: (\d+) /)");
        std::vector<std::uint32_t> volumes;
        for (auto match = std::sregex_iterator(line.begin(), line.end(), channel); match != std::sregex_iterator();
             ++match) {
            volumes.push_back(static_cast<std::uint32_t>(std::stoul((*match)[1])));
        }
        return volumes;
    }

    bool pactlSaysMuted(const std::string& sink) { return pactl({"get-sink-mute", sink}) == "Mute: yes\n"; }

    // What `status` must say about a sink, from pactl alone.
    Json expectedStatus(const std::string& sink, const std::string& description, bool pending) {
        const auto volumes = rawVolumes(sink);
        Json data = Json::object();
        data["deviceId"] = audiohw::sinkDeviceID(sink);
        data["deviceName"] = description;
        data["mainVolume"] = scalar(*std::max_element(volumes.begin(), volumes.end()));
        data["leftVolume"] = scalar(volumes.at(0));
        if (volumes.size() > 1) data["rightVolume"] = scalar(volumes.at(1));
        data["muted"] = pactlSaysMuted(sink);
        data["hasPendingSnapshot"] = pending;
        return data;
    }

    std::filesystem::path stateFile() const { return home_.dataHome() / "tessaryn" / "system-audio-cli" / "state.json"; }
    std::filesystem::path logFile() const { return home_.path() / "logs" / "hushline.log"; }

    testsupport::TemporaryHome home_;
    testsupport::SoundServer server_;
};

TEST_F(HushlineProcess, MuteThenRestoreLeavesEachSinkExactlyAsItWas) {
    struct Case {
        std::string sink, description, volumes;
        bool mutedBefore;
    };
    for (const Case& sink : {Case{"test_stereo_sink", "Test Stereo Output", "39321 20000", false},
                             Case{"test_mono_sink", "Test Mono Output", "45001", false},
                             Case{"test_stereo_sink", "Test Stereo Output", "70000 12345", true}}) {
        SCOPED_TRACE(sink.sink + " " + sink.volumes);
        pactl({"set-default-sink", sink.sink});
        std::vector<std::string> setVolume = {"set-sink-volume", sink.sink};
        std::istringstream volumes(sink.volumes);
        for (std::string volume; volumes >> volume;) setVolume.push_back(volume);
        pactl(setVolume);
        pactl({"set-sink-mute", sink.sink, sink.mutedBefore ? "1" : "0"});
        const std::string before = sinkState(sink.sink);
        const std::string volumesBefore = pactl({"get-sink-volume", sink.sink});
        EXPECT_EQ(run({"status"}).at("payload").at("data"), expectedStatus(sink.sink, sink.description, false));

        const Json muted = run({"mute"}).at("payload");
        EXPECT_EQ(muted.at("stage"), "muted");
        const Json status = expectedStatus(sink.sink, sink.description, false);
        Json previous = Json::object();
        previous["main"] = status.at("mainVolume");
        previous["left"] = status.at("leftVolume");
        if (status.contains("rightVolume")) previous["right"] = status.at("rightVolume");
        previous["muted"] = sink.mutedBefore;
        EXPECT_EQ(muted.at("data"), (Json{{"deviceId", audiohw::sinkDeviceID(sink.sink)},
                                          {"deviceName", sink.description},
                                          {"method", "mute-property"},
                                          {"previousVolumes", previous}}));
        EXPECT_TRUE(pactlSaysMuted(sink.sink));
        EXPECT_EQ(pactl({"get-sink-volume", sink.sink}), volumesBefore);
        EXPECT_EQ(run({"no-such-command"}).at("payload").at("data"), expectedStatus(sink.sink, sink.description, true));

        const Json restored = run({"restore"}).at("payload");
        EXPECT_EQ(restored.at("stage"), "restored");
        EXPECT_EQ(restored.at("data"), (Json{{"deviceId", audiohw::sinkDeviceID(sink.sink)},
                                             {"deviceName", sink.description},
                                             {"usedSnapshot", true},
                                             {"fallbackApplied", false}}));
        EXPECT_EQ(sinkState(sink.sink), before);
        EXPECT_FALSE(std::filesystem::exists(stateFile()));
        EXPECT_EQ(run({}).at("payload").at("data"), expectedStatus(sink.sink, sink.description, false));
    }

    const std::string log = readFile(logFile());
    for (const char* line : {"] [INFO] CLI 启动，日志写入 ", "] [INFO] 执行 mute 指令\n", "] [INFO] 准备静音默认输出设备\n",
                             "] [INFO] 静音完成 device=Test Mono Output 方法=mute-property\n",
                             "] [INFO] 执行 restore 指令\n", "] [INFO] 准备恢复系统音量\n", "] [INFO] 按照快照恢复完成\n",
                             "] [INFO] 执行 status 指令\n", "] [DEBUG] 写入消息 type=status\n"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(log.find("[ERROR]"), std::string::npos) << log;
}

TEST_F(HushlineProcess, RestoreOntoAnotherDefaultSinkAppliesTheSafetyVolumeThere) {
    pactl({"set-sink-volume", "test_stereo_sink", "30000", "40000"});
    run({"mute"});
    const std::string stereoMuted = sinkState("test_stereo_sink");
    pactl({"set-default-sink", "test_mono_sink"});
    pactl({"set-sink-volume", "test_mono_sink", "1000"});
    pactl({"set-sink-mute", "test_mono_sink", "1"});

    const Json line = run({"restore"});
    EXPECT_EQ(line.at("type"), "error");
    EXPECT_EQ(line.at("payload").at("code"), "apple_audio_restore_failed");
    EXPECT_EQ(line.at("payload").at("message"), "恢复系统音量失败。");
    EXPECT_EQ(line.at("payload").at("logPath"), logFile().string());
    EXPECT_EQ(line.at("payload").at("details"), (Json{{"deviceId", audiohw::sinkDeviceID("test_mono_sink")},
                                                      {"deviceName", "Test Mono Output"},
                                                      {"usedSnapshot", true},
                                                      {"fallbackApplied", true}}));
    EXPECT_EQ(rawVolumes("test_mono_sink"), std::vector<std::uint32_t>{32768});
    EXPECT_FALSE(pactlSaysMuted("test_mono_sink"));
    EXPECT_EQ(sinkState("test_stereo_sink"), stereoMuted);
    EXPECT_FALSE(std::filesystem::exists(stateFile()));
    EXPECT_NE(readFile(logFile()).find("] [ERROR] 恢复失败：恢复系统音量失败。\n"), std::string::npos);
}

TEST_F(HushlineProcess, ASinkThatGoesAwayBetweenMuteAndRestore) {
    server_.addSink("usb_sink", "USB/Dock", 2);
    pactl({"set-default-sink", "usb_sink"});
    const Json muted = run({"mute"});
    EXPECT_EQ(muted.at("payload").at("data").at("deviceName"), "USB/Dock");
    // The file escapes the slash; the output line does not.
    EXPECT_NE(readFile(stateFile()).find(R"("deviceName":"USB\/Dock")"), std::string::npos) << readFile(stateFile());

    // Another sink takes over as default.
    server_.removeDevice("usb_sink");
    const Json other = run({"restore"}).at("payload");
    EXPECT_EQ(other.at("code"), "apple_audio_restore_failed");
    std::string defaultSink = pactl({"get-default-sink"});
    defaultSink.pop_back();
    const auto fallbackSink = audiohw::sinkDeviceID(defaultSink);
    EXPECT_EQ(other.at("details").at("deviceId"), fallbackSink);
    EXPECT_EQ(other.at("details").at("fallbackApplied"), true);

    // No sink at all.
    run({"mute"});
    server_.removeDevice("test_stereo_sink");
    server_.removeDevice("test_mono_sink");
    EXPECT_EQ(run({"status"}).at("payload").at("data"), (Json{{"deviceId", 0}, {"hasPendingSnapshot", true}}));
    const Json none = run({"restore"}).at("payload");
    EXPECT_EQ(none.at("code"), "apple_audio_device_unavailable");
    EXPECT_EQ(none.at("details"), (Json{{"deviceId", 0}, {"usedSnapshot", true}, {"fallbackApplied", false}}));
    EXPECT_FALSE(std::filesystem::exists(stateFile()));
    EXPECT_EQ(run({"mute"}).at("payload").at("code"), "apple_audio_device_unavailable");
}

TEST_F(HushlineProcess, WithoutASoundServerEveryCommandAnswersAtOnce) {
    testsupport::writeFile(stateFile(), R"({"deviceID":2,"createdAt":1})");
    server_.stop();
    EXPECT_EQ(run({"status"}).at("payload").at("data"), (Json{{"deviceId", 0}, {"hasPendingSnapshot", true}}));
    const Json mute = run({"mute"}).at("payload");
    EXPECT_EQ(mute.at("code"), "apple_audio_device_unavailable");
    EXPECT_EQ(mute.at("message"), "未找到默认输出设备。");
    EXPECT_FALSE(mute.contains("details"));
    EXPECT_EQ(run({"restore"}).at("payload").at("details"),
              (Json{{"deviceId", 0}, {"usedSnapshot", true}, {"fallbackApplied", false}}));
    EXPECT_FALSE(std::filesystem::exists(stateFile()));
    server_.start();
}

TEST_F(HushlineProcess, AMuteThatCannotBeRecordedLeavesTheSinkAsItWas) {
    std::filesystem::create_directories(stateFile());  // a folder where the snapshot should go
    const std::string before = sinkState("test_stereo_sink");
    const Json line = run({"mute"});
    EXPECT_EQ(line.at("type"), "error");
    EXPECT_EQ(line.at("payload").at("code"), "apple_audio_mute_failed");
    EXPECT_EQ(sinkState("test_stereo_sink"), before);
    const std::string log = readFile(logFile());
    EXPECT_NE(log.find("] [ERROR] 写入静音快照失败: "), std::string::npos) << log;
    EXPECT_NE(log.find("] [ERROR] 静音快照未能保存，撤销本次静音\n"), std::string::npos) << log;
}

}  // namespace
}  // namespace hushline
