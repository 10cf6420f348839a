// The device commands of the built binary against a real sound server, with pactl as witness.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "portline/tests/PortlineProcess.h"
#include "test-support/SilentSocket.h"

namespace portline {
namespace {

using testing::Environment;
using testing::PortlineProcess;

// Sources that are not monitors, from `pactl list sources`: name and description.
std::vector<std::pair<std::string, std::string>> pactlInputs(const std::string& listing) {
    std::vector<std::pair<std::string, std::string>> inputs;
    std::string name, description;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("\tName: ")) name = line.substr(7);
        if (line.starts_with("\tDescription: ")) description = line.substr(14);
        if (line == "\tMonitor of Sink: n/a") inputs.emplace_back(name, description);
    }
    return inputs;
}

TEST_F(PortlineProcess, ListNamesExactlyTheSourcesPactlListsWithTheDefaultMarked) {
    server_.addSource("extra.mic", "Ümlaut/\"quoted\" 麦克风", 1);
    pactl({"set-default-source", "test_source_b"});
    for (int round = 0; round < 2; ++round) {
        const auto result = run({"list"});
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.standardError, "");
        const auto devices = onlyLine(result).at("payload").at("devices");

        const auto expected = pactlInputs(pactl({"list", "sources"}));
        const std::string defaultSource = pactl({"get-default-source"});
        ASSERT_EQ(devices.size(), expected.size()) << devices.dump();
        ASSERT_GE(expected.size(), 2u);
        for (std::size_t index = 0; index < expected.size(); ++index) {
            EXPECT_EQ(devices[index].at("uid"), expected[index].first);
            EXPECT_EQ(devices[index].at("name"), expected[index].second);
            EXPECT_EQ(devices[index].at("isDefault"), expected[index].first == defaultSource);
            EXPECT_EQ(devices[index].dump().find("uid"), 2u);  // key order: uid, name, isDefault
        }
        pactl({"set-default-source", "extra.mic"});
    }
}

TEST_F(PortlineProcess, GetDefaultAgreesWithPactl) {
    for (const std::string source : {"test_source_a", "test_source_b"}) {
        pactl({"set-default-source", source});
        const auto result = run({"get-default"});
        EXPECT_EQ(result.exitStatus, 0);
        const auto device = onlyLine(result).at("payload").at("device");
        EXPECT_EQ(device.at("uid"), source);
        EXPECT_EQ(device.at("isDefault"), true);
    }
}

TEST_F(PortlineProcess, SetDefaultChangesWhatPactlReports) {
    auto result = run({"set-default", "--uid", "test_source_b"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardOutput,
              R"({"type":"result","payload":{"previousDevice":{"uid":"test_source_a","name":"Test Microphone A"},)"
              R"("currentDevice":{"uid":"test_source_b","name":"Test Microphone B"}}})" "\n");
    EXPECT_EQ(pactl({"get-default-source"}), "test_source_b");

    result = run({"set-default", "--uid=test_source_a"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(pactl({"get-default-source"}), "test_source_a");

    // A sink is found by its UID, but the server will not record from it.
    result = run({"set-default", "--uid", "test_stereo_sink"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardOutput, R"({"type":"error","payload":{"code":"SET_DEFAULT_FAILED","message":"设置默认设备失败"}})" "\n");
    // Monitors are not input devices and UIDs are exact.
    for (const std::string uid : {"test_stereo_sink.monitor", "TEST_SOURCE_B", "test_source_b "}) {
        result = run({"set-default", "--uid", uid});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(onlyLine(result).at("payload").at("message"), "未找到指定 UID 的设备：" + uid);
    }
    EXPECT_EQ(pactl({"get-default-source"}), "test_source_a");
}

// WirePlumber accepts the request and then keeps the old default: only reading the
// default back tells the truth.
TEST_F(PortlineProcess, ASetDefaultTheServerOverrulesIsAFailure) {
    if (!server_.addSourceThatCannotBeDefault("portless_source", "Portless Microphone")) {
        GTEST_SKIP() << "this sound server makes every source the default it is asked for";
    }
    const auto result = run({"set-default", "--uid", "portless_source"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardOutput, R"({"type":"error","payload":{"code":"SET_DEFAULT_FAILED","message":"设置默认设备失败"}})" "\n");
    EXPECT_EQ(pactl({"get-default-source"}), "test_source_a");
}

TEST_F(PortlineProcess, BadUIDsAreClearErrorsAndChangeNothing) {
    const auto logFile = (home_.path() / "portline.log").string();
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"set-default"}, {"set-default", "--uid"}, {"set-default", "--uid="}, {"set-default", "--uid", ""}}) {
        const auto result = run(arguments, {{"AUDIO_DEVICE_CLI_LOG_PATH", logFile}});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.standardOutput, R"({"type":"error","payload":{"code":"INVALID_ARGUMENT","message":"参数无效：缺少 --uid 参数","logPath":")" +
                                             logFile + "\"}}\n");
    }

    const std::string longUID(100000, 'u');
    auto result = run({"set-default", "--uid", longUID});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(onlyLine(result).at("payload").at("message"), "未找到指定 UID 的设备：" + longUID);

    result = run({"set-default", "--uid", "bad\xff\xfe uid"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(onlyLine(result).at("payload").at("message"), "未找到指定 UID 的设备：bad\uFFFD\uFFFD uid");
    EXPECT_EQ(pactl({"get-default-source"}), "test_source_a");
}

TEST_F(PortlineProcess, UnknownOrMissingCommandWordsAreRefused) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{}, {"LIST"}, {"status"}, {"list-devices"}, {"--log-file"}}) {
        const auto result = run(arguments);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.standardOutput, R"({"type":"error","payload":{"code":"UNKNOWN_COMMAND","message":"未知命令，支持的命令：list, get-default, set-default, watch"}})" "\n");
    }
}

TEST_F(PortlineProcess, TheLogFileRecordsTheCommandsAndNoDefaultLogIsWritten) {
    const auto logFile = home_.path() / "logs" / "portline.log";
    const auto result = run({"list", "--log-file", logFile.string()});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(onlyLine(result).at("payload").contains("logPath"), false);  // a result has no logPath
    const std::string log = testsupport::readFile(logFile);
    for (const std::string& line : {"[INFO] CLI 启动，日志写入 " + logFile.string(), std::string("[INFO] 执行 list 命令"),
                                   std::string("[INFO] 获取所有输入设备"), std::string("[INFO] 找到 2 个输入设备"),
                                   std::string("[DEBUG] 写入消息 type=result")}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }

    // Without a log path portline writes no log anywhere.
    EXPECT_EQ(run({"get-default"}).exitStatus, 0);
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(home_.path())) files += entry.is_regular_file();
    EXPECT_EQ(files, 1u);
}

TEST_F(PortlineProcess, WithoutAnAnsweringServerListAndGetDefaultFailAtOnce) {
    const testsupport::SilentSocket silent(home_.path() / "silent");
    for (const std::string& server : {"unix:" + (home_.path() / "absent").string(), "unix:" + (home_.path() / "silent").string()}) {
        const Environment noServer{{"PULSE_SERVER", server}};
        auto result = testsupport::runProcess(PORTLINE_BINARY, {{"list"}, environment(noServer)}, {}, std::chrono::seconds(5));
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.standardOutput, R"({"type":"error","payload":{"code":"ENUM_FAILED","message":"枚举音频设备失败"}})" "\n");

        result = testsupport::runProcess(PORTLINE_BINARY, {{"get-default"}, environment(noServer)}, {}, std::chrono::seconds(5));
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.standardOutput, R"({"type":"error","payload":{"code":"NO_DEFAULT_DEVICE","message":"未找到默认输入设备"}})" "\n");

        result = testsupport::runProcess(PORTLINE_BINARY, {{"set-default", "--uid", "test_source_b"}, environment(noServer)}, {},
                                         std::chrono::seconds(5));
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(onlyLine(result).at("payload").at("code"), "ENUM_FAILED");
    }
}

}  // namespace
}  // namespace portline
