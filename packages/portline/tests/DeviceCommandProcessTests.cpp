// The device commands of the built binary against a real sound server, with pactl as witness.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "portline/tests/PortlineProcess.h"
#include "test-support/SilentSocket.h"

namespace portline {
namespace {

using testing::Environment;
using testing::PortlineProcess;

TEST_F(PortlineProcess, ListAndGetDefaultNameExactlyTheServersSourcesAndTheLogRecordsThem) {
    server_.addSource("extra.mic", "Ümlaut/\"quoted\" 麦克风", 1);
    const auto logFile = home_.path() / "logs" / "portline.log";
    for (const std::string defaultSource : {"test_source_b", "extra.mic"}) {
        pactl({"set-default-source", defaultSource});
        const auto result = run({"list", "--log-file", logFile.string()});
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.standardError, "");
        // Monitors are no inputs; a result has no logPath.
        const auto device = [&](const std::string& uid, const std::string& name) {
            return R"({"uid":")" + uid + R"(","name":")" + name + R"(","isDefault":)" +
                   (uid == defaultSource ? "true}" : "false}");
        };
        EXPECT_EQ(result.standardOutput, R"({"type":"result","payload":{"devices":[)" +
                                             device("test_source_a", "Test Microphone A") + "," +
                                             device("test_source_b", "Test Microphone B") + "," +
                                             device("extra.mic", R"(Ümlaut/\"quoted\" 麦克风)") + "]}}\n");
        const auto defaultDevice = run({"get-default"});
        EXPECT_EQ(defaultDevice.exitStatus, 0);
        EXPECT_EQ(onlyLine(defaultDevice).at("payload").at("device").at("uid"), defaultSource);
    }

    const std::string log = testsupport::readFile(logFile);
    for (const std::string& line : {"[INFO] CLI 启动，日志写入 " + logFile.string(), std::string("[INFO] 执行 list 命令"),
                                   std::string("[INFO] 获取所有输入设备"), std::string("[INFO] 找到 3 个输入设备"),
                                   std::string("[DEBUG] 写入消息 type=result")}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }
    // Without a log path portline writes no log anywhere.
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(home_.path())) files += entry.is_regular_file();
    EXPECT_EQ(files, 1u);
}

TEST_F(PortlineProcess, SetDefaultChangesWhatPactlReportsOrFailsWhenTheServerDoesNotTakeIt) {
    auto result = run({"set-default", "--uid", "test_source_b"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardOutput,
              R"({"type":"result","payload":{"previousDevice":{"uid":"test_source_a","name":"Test Microphone A"},)"
              R"("currentDevice":{"uid":"test_source_b","name":"Test Microphone B"}}})" "\n");
    EXPECT_EQ(pactl({"get-default-source"}), "test_source_b");

    result = run({"set-default", "--uid=test_source_a"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(pactl({"get-default-source"}), "test_source_a");

    // A sink is found by its UID, but the server will not record from it. WirePlumber
    // accepts a source without an available port and then keeps the old default: only
    // reading the default back tells the truth (other servers have no such source).
    std::vector<std::string> refused{"test_stereo_sink"};
    if (server_.addSourceThatCannotBeDefault("portless_source", "Portless Microphone")) refused.push_back("portless_source");
    for (const std::string& uid : refused) {
        result = run({"set-default", "--uid", uid});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.standardOutput,
                  R"({"type":"error","payload":{"code":"SET_DEFAULT_FAILED","message":"设置默认设备失败"}})" "\n");
    }
    // Monitors are not input devices and UIDs are exact.
    for (const std::string uid : {"test_stereo_sink.monitor", "TEST_SOURCE_B", "test_source_b "}) {
        result = run({"set-default", "--uid", uid});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(onlyLine(result).at("payload").at("message"), "未找到指定 UID 的设备：" + uid);
    }
    EXPECT_EQ(pactl({"get-default-source"}), "test_source_a");
}

TEST_F(PortlineProcess, TheLastNonEmptyUIDIsTakenAndBadWordsAreClearErrorsThatChangeNothing) {
    const auto logFile = (home_.path() / "portline.log").string();
    const auto error = [&](const std::string& code, const std::string& message) {
        return R"({"type":"error","payload":{"code":")" + code + R"(","message":")" + message + R"(","logPath":")" +
               logFile + "\"}}\n";
    };
    const std::string missing = error("INVALID_ARGUMENT", "参数无效：缺少 --uid 参数");
    const std::string unknown = error("UNKNOWN_COMMAND", "未知命令，支持的命令：list, get-default, set-default, watch");
    const auto notFound = [&](const std::string& uid) { return error("DEVICE_NOT_FOUND", "未找到指定 UID 的设备：" + uid); };
    const std::string set = "set-default";
    for (const auto& [arguments, line] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{}, unknown}, {{"LIST"}, unknown}, {{"status"}, unknown}, {{"list-devices"}, unknown},
             {{"--log-file"}, unknown}, {{set}, missing}, {{set, "--uid"}, missing}, {{set, "--uid="}, missing},
             {{set, "--uid", ""}, missing}, {{set, "--uid", "a", "--uid="}, missing}, {{set, "uid=a"}, missing},
             {{set, "-uid", "a"}, missing},
             {{set, "--uid=a=b=c"}, notFound("a=b=c")},
             {{set, "--uid", "a", "--uid", "b"}, notFound("b")},
             {{set, "--uid=a", "--uid"}, notFound("a")},  // a trailing --uid takes nothing
             {{set, "--uid", "--uid"}, notFound("--uid")},
             {{set, "x", "--uid", "a", "--uidx=b", "--UID=c"}, notFound("a")},
             {{set, "--uid", std::string(100000, 'u')}, notFound(std::string(100000, 'u'))},
             {{set, "--uid", "bad\xff\xfe uid"}, notFound("bad\uFFFD\uFFFD uid")}}) {
        const auto result = run(arguments, {{"AUDIO_DEVICE_CLI_LOG_PATH", logFile}});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.standardOutput, line) << ::testing::PrintToString(arguments).substr(0, 80);
    }
    EXPECT_EQ(pactl({"get-default-source"}), "test_source_a");
}

TEST_F(PortlineProcess, WithoutAnAnsweringServerEveryCommandFailsAtOnce) {
    const testsupport::SilentSocket silent(home_.path() / "silent");
    for (const std::string& server : {"unix:" + (home_.path() / "absent").string(), "unix:" + (home_.path() / "silent").string()}) {
        for (const auto& [arguments, code, message] : std::vector<std::tuple<std::vector<std::string>, std::string, std::string>>{
                 {{"list"}, "ENUM_FAILED", "枚举音频设备失败"},
                 {{"get-default"}, "NO_DEFAULT_DEVICE", "未找到默认输入设备"},
                 {{"set-default", "--uid", "test_source_b"}, "ENUM_FAILED", "枚举音频设备失败"}}) {
            const auto result = testsupport::runProcess(PORTLINE_BINARY, {arguments, environment({{"PULSE_SERVER", server}})});
            EXPECT_FALSE(result.timedOut);
            EXPECT_EQ(result.exitStatus, 1);
            EXPECT_EQ(result.standardOutput,
                      R"({"type":"error","payload":{"code":")" + code + R"(","message":")" + message + "\"}}\n");
        }
    }
}

}  // namespace
}  // namespace portline
