// The message emitter and the JSON writer beneath it.
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cli-frame/Json/JsonWriter.h"
#include "cli-frame/Json/Utf8.h"
#include "cli-frame/Messages/CLIMessageEmitter.h"
#include "cli-frame/Messages/CodedError.h"
#include "cli-frame/Testing/RecordingLogger.h"
#include "test-support/TemporaryHome.h"

namespace cli {
namespace {

// Key order, plain and escaped slashes and sorted keys show in every tool's process tests.
TEST(JsonWriter, EscapesControlsRepairsUtf8WritesShortestNumbersAndRejectsNonFiniteOnes) {
    EXPECT_EQ(writeJson(Json(std::string("a\"b\\c\n\t\x01 \xff\xc3("))),
              "\"a\\\"b\\\\c\\n\\t\\u0001 \xEF\xBF\xBD\xEF\xBF\xBD(\"");
    EXPECT_TRUE(isValidUtf8(writeJson(Json(std::string("\xed\xa0\x80 surrogate")))));
    EXPECT_EQ(writeJson(Json::array({0.5, 1.0, 0.1, -3, std::int64_t{9007199254740993}, 1e21})),
              "[0.5,1,0.1,-3,9007199254740993,1e+21]");
    EXPECT_THROW(writeJson(Json::object({{"confidence", std::nan("")}})), JsonEncodingError);
    EXPECT_THROW(writeJson(Json::array({std::numeric_limits<double>::infinity()})), JsonEncodingError);
}

// Emitters writing to one file in place of standard output, and logging to a recorder.
class CLIMessageEmitterTest : public ::testing::Test {
protected:
    ~CLIMessageEmitterTest() override { close(fd_); }
    CLIMessageEmitter emitter(std::optional<std::string> logPath = std::nullopt) {
        return CLIMessageEmitter(log_.logger(), std::move(logPath), fd_);
    }
    std::string output() const { return testsupport::readFile(home_.path() / "out"); }

    testsupport::TemporaryHome home_;
    int fd_ = ::open((home_.path() / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    RecordingLogger log_;
};

TEST_F(CLIMessageEmitterTest, WritesEachKindWithItsLogPathOrTheFailuresOwnCodeAndLogsTheType) {
    emitter("/l.log").emitStatus({.stage = "muted", .data = Json::object({{"deviceId", 0}})});
    emitter().emitStatus(
        {.stage = "s", .bytesProcessed = 3, .code = "c", .logPath = "/ignored.log", .message = "m", .data = Json::array()});
    auto failing = emitter("/var/log/a b.log");
    failing.emitFailure(CodedError("NO_DEFAULT_DEVICE", "未找到默认输入设备"), "INTERNAL_ERROR");
    failing.emitFailure(std::runtime_error("boom"), "INTERNAL_ERROR");
    failing.emitError("E", "m", Json::object({{"k", 1}}));
    EXPECT_EQ(output(),
              R"({"type":"status","payload":{"stage":"muted","logPath":"/l.log","data":{"deviceId":0}}})" "\n"
              R"({"type":"status","payload":{"stage":"s","bytesProcessed":3,"code":"c","message":"m","data":[]}})" "\n"
              R"({"type":"error","payload":{"code":"NO_DEFAULT_DEVICE","message":"未找到默认输入设备",)"
              R"("logPath":"/var/log/a b.log"}})" "\n"
              R"({"type":"error","payload":{"code":"INTERNAL_ERROR","message":"boom","logPath":"/var/log/a b.log"}})" "\n"
              R"({"type":"error","payload":{"code":"E","message":"m","logPath":"/var/log/a b.log","details":{"k":1}}})" "\n");
    EXPECT_EQ(log_.lines().front(), "DEBUG 写入消息 type=status");
    EXPECT_EQ(log_.lines().back(), "DEBUG 写入消息 type=error");
}

TEST_F(CLIMessageEmitterTest, DropsAMessageThatCannotBeEncodedAndLogsWhy) {
    emitter().emit(CLIMessage::result(Json::object({{"confidence", std::nan("")}})));
    emitter().emit(CLIMessage::result(Json::object({{"confidence", 0.25}})));
    EXPECT_EQ(output(), "{\"type\":\"result\",\"payload\":{\"confidence\":0.25}}\n");
    EXPECT_TRUE(log_.lines().at(0).starts_with("ERROR 编码 CLI 消息失败: ")) << log_.lines()[0];
}

TEST_F(CLIMessageEmitterTest, LinesFromConcurrentThreadsStayWhole) {
    auto shared = emitter();
    const std::string text(3000, 'x');  // long enough that two writes per line would interleave
    std::vector<std::thread> writers;
    for (int thread = 0; thread < 4; ++thread)
        writers.emplace_back([&] {
            for (int line = 0; line < 200; ++line) shared.emit(CLIMessage::status(Json::object({{"stage", text}})));
        });
    for (auto& writer : writers) writer.join();
    const auto lines = testsupport::splitLines(output());
    EXPECT_EQ(lines, std::vector<std::string>(800, "{\"type\":\"status\",\"payload\":{\"stage\":\"" + text + "\"}}"));
    EXPECT_TRUE(output().ends_with('\n'));
}

}  // namespace
}  // namespace cli
