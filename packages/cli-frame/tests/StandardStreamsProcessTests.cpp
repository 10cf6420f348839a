// The four built tools with hostile standard streams: closed descriptors, a full device
// and a host that stopped reading.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli-frame/Json/Json.h"
#include "test-support/ChildProcess.h"
#include "test-support/TemporaryHome.h"

namespace cli {
namespace {

using testsupport::closedDescriptor;
using testsupport::pipeToTest;
using testsupport::ProcessOptions;
using testsupport::ProcessResult;

struct Tool {
    std::string binary;
    std::vector<std::string> arguments;
    bool logs;  // pickline keeps no log and reports its own failures on standard error
};

// One quick command each, needing no sound server, bus or model.
const std::vector<Tool> tools{
    {HARKLINE_BINARY, {"diagnostics.state"}, true},
    {HUSHLINE_BINARY, {"status"}, true},
    {PORTLINE_BINARY, {"list"}, true},
    {PICKLINE_BINARY, {}, false},
};

class StandardStreams : public testing::Test {
protected:
    ProcessResult run(const Tool& tool, std::array<int, 3> descriptors) {
        ProcessOptions options{tool.arguments, home.environment(), descriptors};
        if (tool.logs) options.arguments.push_back("--log-file=" + logPath());
        options.environment["PULSE_SERVER"] = "unix:" + (home.path() / "no-server").string();
        options.environment["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + (home.path() / "no-bus").string();
        return testsupport::runProcess(tool.binary, options);
    }

    std::string logPath() const { return (home.path() / "tool.log").string(); }
    std::string log() const { return testsupport::readFile(logPath()); }

    testsupport::TemporaryHome home;
};

TEST_F(StandardStreams, AnAnswerThatCannotBeWrittenIsLoggedAndEndsWithStatusOne) {
    for (const auto& tool : tools) {
        SCOPED_TRACE(tool.binary);
        int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        auto result = run(tool, {pipeToTest, full, pipeToTest});
        ::close(full);
        EXPECT_EQ(result.exitStatus, 1);
        if (tool.logs) {
            EXPECT_NE(log().find("] [ERROR] 写入标准输出失败 type="), std::string::npos) << log();
            std::filesystem::remove(logPath());
        } else {
            EXPECT_NE(result.standardError.find("cannot write to standard output"), std::string::npos);
        }

        int ends[2];
        ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        ::close(ends[0]);  // the host is gone
        result = run(tool, {pipeToTest, ends[1], pipeToTest});
        ::close(ends[1]);
        EXPECT_EQ(result.termSignal, 0);
        EXPECT_EQ(result.exitStatus, 1);
    }
}

TEST_F(StandardStreams, ClosedDescriptorsAreNeverTakenByTheLog) {
    // With standard input closed, the reader meets an empty input, not the log file, and
    // the lines logged after it closed its descriptor still arrive.
    auto result = run({HARKLINE_BINARY, {"transcribe"}, true}, {closedDescriptor, pipeToTest, closedDescriptor});
    auto lines = result.lines();
    ASSERT_EQ(lines.size(), 3u) << result.standardOutput;
    EXPECT_EQ(Json::parse(lines[0])["payload"]["stage"], "booting");
    EXPECT_EQ(Json::parse(lines[1])["payload"]["stage"], "ready");
    EXPECT_EQ(Json::parse(lines[2])["payload"]["stage"], "input-stream-closed");
    EXPECT_EQ(log().find("标准输入读取失败"), std::string::npos) << log();
    EXPECT_NE(log().find("标准输入读取完成，总字节=0"), std::string::npos) << log();
    EXPECT_NE(log().find("转写管线正常结束"), std::string::npos) << log();

    // With standard output closed, the answers go nowhere, never into the log.
    for (const auto& tool : tools) {
        if (!tool.logs) continue;
        std::filesystem::remove(logPath());
        run(tool, {pipeToTest, closedDescriptor, pipeToTest});
        EXPECT_NE(log().find("写入消息 type="), std::string::npos) << tool.binary << log();
        EXPECT_EQ(log().find("{\"type\""), std::string::npos) << tool.binary << log();
    }
}

}  // namespace
}  // namespace cli
