// `portline watch` as the host runs it: a real sound server, changes made with pactl.
#include <gtest/gtest.h>

#include <csignal>

#include "portline/tests/PortlineProcess.h"
#include "test-support/SilentSocket.h"

namespace portline {
namespace {

using namespace std::chrono_literals;
using testing::Environment;
using testing::PortlineProcess;

constexpr auto kLineTimeout = 5s;  // only guards against a hang

class WatchProcess : public PortlineProcess {
protected:
    std::unique_ptr<testsupport::ChildProcess> launchWatch(std::vector<std::string> options = {},
                                                           const Environment& extra = {}) {
        options.insert(options.begin(), "watch");
        return std::make_unique<testsupport::ChildProcess>(PORTLINE_BINARY,
                                                           testsupport::ProcessOptions{options, environment(extra)});
    }

    // A watch that has said it is ready.
    std::unique_ptr<testsupport::ChildProcess> startWatch(const Environment& extra = {}) {
        auto child = launchWatch({}, extra);
        const auto ready = nextLine(*child);
        EXPECT_EQ(ready.dump(), R"({"type":"status","payload":{"stage":"ready","message":"监听已启动"}})");
        return child;
    }

    static cli::Json nextLine(testsupport::ChildProcess& child) {
        const auto line = child.readLine(kLineTimeout);
        EXPECT_TRUE(line.has_value()) << "no line from watch";
        return line ? cli::Json::parse(*line) : cli::Json();
    }

    static std::string eventOf(const cli::Json& line) {
        EXPECT_EQ(line.value("type", ""), "event") << line.dump();
        return line.at("payload").at("event");
    }

    static std::vector<std::string> uids(const cli::Json& eventLine) {
        std::vector<std::string> result;
        for (const auto& device : eventLine.at("payload").at("data").at("devices")) result.push_back(device.at("uid"));
        return result;
    }

    // The signal ends the watch with "stopped" as its last line and exit status 0.
    static void expectStopsCleanly(testsupport::ChildProcess& child, int signalNumber) {
        child.signal(signalNumber);
        const auto line = child.readLine(kLineTimeout);
        ASSERT_TRUE(line.has_value());
        auto payload = cli::Json::parse(*line).at("payload");
        payload.erase("logPath");
        EXPECT_EQ(payload.dump(), R"({"stage":"stopped","message":"监听已停止"})");
        const auto result = child.wait(kLineTimeout);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_TRUE(result.standardOutput.ends_with("\n" + *line + "\n")) << "lines after stopped";
        EXPECT_EQ(result.standardError, "");
    }
};

TEST_F(WatchProcess, WritesOneLinePerChangeInOrderAndStopsOnSIGINTAndSIGTERM) {
    const std::vector<std::pair<int, std::string>> rounds{{SIGINT, "test_source_b"}, {SIGTERM, "test_source_a"}};
    for (const auto& [signalNumber, newDefault] : rounds) {
        auto watch = startWatch();

        pactl({"set-default-source", newDefault});
        const auto changed = nextLine(*watch);
        EXPECT_EQ(eventOf(changed), "default-device-changed");
        const std::string name = newDefault == "test_source_b" ? "Test Microphone B" : "Test Microphone A";
        EXPECT_EQ(changed.at("payload").at("data").at("device").dump(),
                  R"({"uid":")" + newDefault + R"(","name":")" + name + R"(","isDefault":true})");

        // Each change is read back before the next: the watch re-reads the state when told.
        server_.addSource("plugged_in", "Plugged In", 2);
        const auto added = nextLine(*watch);
        EXPECT_EQ(eventOf(added), "device-list-changed");
        EXPECT_EQ(uids(added), (std::vector<std::string>{"test_source_a", "test_source_b", "plugged_in"}));
        server_.removeDevice("plugged_in");
        const auto removed = nextLine(*watch);
        EXPECT_EQ(eventOf(removed), "device-list-changed");
        EXPECT_EQ(uids(removed), (std::vector<std::string>{"test_source_a", "test_source_b"}));
        for (const auto& device : removed.at("payload").at("data").at("devices")) {
            EXPECT_EQ(device.at("isDefault"), device.at("uid") == newDefault);
        }

        // A sink comes with its monitor source, which is no input: one line for both.
        server_.addSink("plugged_out", "Plugged Out", 2);
        EXPECT_EQ(uids(nextLine(*watch)), (std::vector<std::string>{"test_source_a", "test_source_b"}));

        // Setting the source that already is the default is no change; output devices are not watched.
        pactl({"set-default-source", newDefault});
        pactl({"set-sink-volume", "test_stereo_sink", "50%"});
        pactl({"set-default-sink", signalNumber == SIGINT ? "plugged_out" : "test_mono_sink"});
        EXPECT_EQ(watch->readLine(300ms), std::nullopt);
        server_.removeDevice("plugged_out");
        EXPECT_EQ(uids(nextLine(*watch)), (std::vector<std::string>{"test_source_a", "test_source_b"}));

        expectStopsCleanly(*watch, signalNumber);
    }
}

// The host stops reading: the watch ends with status 1 at once rather than run on with
// every line failing.
TEST_F(WatchProcess, EndsWithStatusOneOnceNobodyReadsItsLines) {
    auto logFile = home_.path() / "portline.log";
    const auto result = testsupport::runProcess(
        "/bin/bash", {{"-c", std::string(PORTLINE_BINARY) + R"( watch --log-file "$0" | head -n 1; echo "${PIPESTATUS[0]}")",
                       logFile.string()},
                      environment()});
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.lines(), (std::vector<std::string>{
                                  R"({"type":"status","payload":{"stage":"ready","logPath":")" + logFile.string() +
                                      R"(","message":"监听已启动"}})",
                                  "1"}));
    EXPECT_NE(testsupport::readFile(logFile).find("[ERROR] 标准输出已无读取方，停止监听"), std::string::npos);
}

// A server that is up but answers only after the watch has said ready: a change made in
// between is not lost but shows in the list the watch writes once it is connected.
TEST_F(WatchProcess, AServerThatAnswersAfterReadyIsReportedAsTheListItThenShows) {
    const std::string relaySocket = (home_.path() / "relay").string();
    testsupport::ChildProcess relay("/usr/bin/python3",
                                    {{HELD_BACK_RELAY, relaySocket, server_.address().substr(5), "2"}, {}});
    ASSERT_EQ(relay.readLine(kLineTimeout), "ready");
    // The relay passes bytes, not the descriptors of libpulse's shared memory.
    const auto clientConfig = home_.path() / "relayed-client.conf";
    testsupport::writeFile(clientConfig, "autospawn = no\nenable-shm = no\n");
    auto watch = startWatch({{"PULSE_SERVER", "unix:" + relaySocket}, {"PULSE_CLIENTCONFIG", clientConfig.string()}});
    pactl({"set-default-source", "test_source_b"});
    const auto connected = nextLine(*watch);
    ASSERT_EQ(eventOf(connected), "device-list-changed");
    EXPECT_EQ(connected.at("payload").at("data").at("devices").dump(),
              R"([{"uid":"test_source_a","name":"Test Microphone A","isDefault":false},)"
              R"({"uid":"test_source_b","name":"Test Microphone B","isDefault":true}])");
    expectStopsCleanly(*watch, SIGINT);
}

// Started before the server, the watch reports the list once one comes, and goes on after
// every restart with the fresh list and a default changed while it was away.
TEST_F(WatchProcess, ReportsTheListOnceAServerComesAndGoesOnAfterItRestarts) {
    server_.stop();
    const auto logFile = (home_.path() / "watch.log").string();
    auto watch = launchWatch({"--log-file", logFile});
    EXPECT_EQ(nextLine(*watch).at("payload").at("logPath"), logFile);
    server_.start();
    const auto arrived = nextLine(*watch);
    EXPECT_EQ(eventOf(arrived), "device-list-changed");
    EXPECT_EQ(uids(arrived), (std::vector<std::string>{"test_source_a", "test_source_b"}));

    // Every restart, however soon after the last, ends in one line: the fresh list, once
    // reconnected.
    for (int restart = 0; restart < 10; ++restart) {
        server_.restartProtocolServer();
        const auto reconnected = nextLine(*watch);
        // Once seen missing on PipeWire, cause unknown: the log tells what the watch did.
        ASSERT_FALSE(reconnected.is_null()) << "restart " << restart << "; the watch's log:\n"
                                            << testsupport::readFile(logFile);
        ASSERT_EQ(eventOf(reconnected), "device-list-changed") << "restart " << restart;
        EXPECT_EQ(uids(reconnected), (std::vector<std::string>{"test_source_a", "test_source_b"}));
    }

    pactl({"set-default-source", "test_source_b"});
    const auto changed = nextLine(*watch);
    EXPECT_EQ(eventOf(changed), "default-device-changed");
    EXPECT_EQ(changed.at("payload").at("data").at("device").at("uid"), "test_source_b");
    // The server comes back with its own default, test_source_a.
    server_.stop();
    server_.start();
    EXPECT_EQ(eventOf(nextLine(*watch)), "device-list-changed");
    const auto changedBack = nextLine(*watch);
    EXPECT_EQ(eventOf(changedBack), "default-device-changed");
    EXPECT_EQ(changedBack.at("payload").at("data").at("device").at("uid"), "test_source_a");

    expectStopsCleanly(*watch, SIGTERM);
    const std::string log = testsupport::readFile(logFile);
    EXPECT_NE(log.find("[ERROR] 与音频服务的连接已断开，等待重新连接"), std::string::npos) << log;
    EXPECT_NE(log.find("[INFO] 已重新连接音频服务"), std::string::npos) << log;
}

TEST_F(WatchProcess, AStalledServerDoesNotHoldBackReadyOrTheStop) {
    const testsupport::SilentSocket silent(home_.path() / "silent");
    auto watch = launchWatch({}, {{"PULSE_SERVER", "unix:" + (home_.path() / "silent").string()}});
    // One bound covers the whole start; a wait per step once added up to nearly three seconds.
    const auto ready = watch->readLine(2s);
    ASSERT_TRUE(ready.has_value());
    EXPECT_EQ(cli::Json::parse(*ready).at("payload").at("stage"), "ready");
    expectStopsCleanly(*watch, SIGTERM);
}

}  // namespace
}  // namespace portline
