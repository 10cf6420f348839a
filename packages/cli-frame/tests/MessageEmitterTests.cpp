#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cli-frame/Messages/CLIMessageEmitter.h"
#include "cli-frame/Messages/CodedError.h"
#include "cli-frame/Testing/RecordingLogger.h"

namespace cli {
namespace {

// Captures what the emitter writes (through a pipe, as standard output would be) and logs.
class EmitterHarness {
public:
    EmitterHarness() {
        if (pipe2(fds_, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    }
    ~EmitterHarness() {
        close(fds_[0]);
        if (fds_[1] >= 0) close(fds_[1]);
    }

    CLIMessageEmitter emitter(std::optional<std::string> logPath = std::nullopt) {
        return CLIMessageEmitter(log_.logger(), std::move(logPath), fds_[1]);
    }

    std::string output() {
        closeWriteEnd();
        return readAll();
    }

    void closeWriteEnd() {
        if (fds_[1] >= 0) close(fds_[1]);
        fds_[1] = -1;
    }

    std::string readAll() {
        std::string text;
        char buffer[4096];
        ssize_t count;
        while ((count = read(fds_[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(count));
        return text;
    }

    std::vector<std::string> logged() const { return log_.lines(); }

private:
    int fds_[2];
    RecordingLogger log_;
};

struct StageOnly {
    std::string stage;
};
void to_json(Json& json, const StageOnly& value) { json = Json{{"stage", value.stage}}; }

struct WithNumber {
    double confidence;
};
void to_json(Json& json, const WithNumber& value) { json = Json{{"confidence", value.confidence}}; }

TEST(CLIMessageEmitter, WritesStatusLinesWithItsLogPathAndLogsTheirType) {
    EmitterHarness harness;
    harness.emitter("/l.log").emitStatus({.stage = "muted", .data = Json::object({{"deviceId", 0}})});
    harness.emitter().emitStatus(
        {.stage = "s", .bytesProcessed = 3, .code = "c", .logPath = "/ignored.log", .message = "m", .data = Json::array()});
    EXPECT_EQ(harness.output(),
              R"({"type":"status","payload":{"stage":"muted","logPath":"/l.log","data":{"deviceId":0}}})" "\n"
              R"({"type":"status","payload":{"stage":"s","bytesProcessed":3,"code":"c","message":"m","data":[]}})" "\n");
    auto logged = harness.logged();
    EXPECT_EQ(logged, std::vector<std::string>(2, "DEBUG 写入消息 type=status"));
}

TEST(CLIMessageEmitter, DropsAMessageThatCannotBeEncodedAndLogsWhy) {
    EmitterHarness harness;
    auto emitter = harness.emitter();
    emitter.emit(CLIMessage::result(WithNumber{std::nan("")}));
    emitter.emit(CLIMessage::result(WithNumber{0.25}));
    EXPECT_EQ(harness.output(), "{\"type\":\"result\",\"payload\":{\"confidence\":0.25}}\n");
    auto logged = harness.logged();
    ASSERT_FALSE(logged.empty());
    EXPECT_TRUE(logged[0].starts_with("ERROR 编码 CLI 消息失败: ")) << logged[0];
}

TEST(CLIMessageEmitter, ReportsFailuresWithTheirOwnCodeOrTheFallback) {
    EmitterHarness harness;
    auto emitter = harness.emitter("/var/log/a b.log");
    emitter.emitFailure(CodedError("NO_DEFAULT_DEVICE", "未找到默认输入设备"), "INTERNAL_ERROR");
    emitter.emitFailure(std::runtime_error("boom"), "INTERNAL_ERROR");
    emitter.emitError("E", "m", Json::object({{"k", 1}}));
    EXPECT_EQ(harness.output(),
              "{\"type\":\"error\",\"payload\":{\"code\":\"NO_DEFAULT_DEVICE\",\"message\":\"未找到默认输入设备\","
              "\"logPath\":\"/var/log/a b.log\"}}\n"
              "{\"type\":\"error\",\"payload\":{\"code\":\"INTERNAL_ERROR\",\"message\":\"boom\","
              "\"logPath\":\"/var/log/a b.log\"}}\n"
              "{\"type\":\"error\",\"payload\":{\"code\":\"E\",\"message\":\"m\",\"logPath\":\"/var/log/a b.log\","
              "\"details\":{\"k\":1}}}\n");
}

TEST(CLIMessageEmitter, LinesFromConcurrentThreadsStayWhole) {
    EmitterHarness harness;
    auto emitter = harness.emitter();
    const std::string text(3000, 'x');  // long enough that two writes per line would interleave
    std::string output;
    std::thread reader([&] { output = harness.readAll(); });
    std::vector<std::thread> writers;
    for (int thread = 0; thread < 4; ++thread)
        writers.emplace_back([&] {
            for (int line = 0; line < 200; ++line) emitter.emit(CLIMessage::status(StageOnly{text}));
        });
    for (auto& writer : writers) writer.join();
    harness.closeWriteEnd();
    reader.join();
    const std::string expected = "{\"type\":\"status\",\"payload\":{\"stage\":\"" + text + "\"}}";
    std::size_t count = 0, start = 0;
    for (auto end = output.find('\n'); end != std::string::npos; end = output.find('\n', start)) {
        ASSERT_EQ(output.substr(start, end - start), expected);
        start = end + 1;
        ++count;
    }
    EXPECT_EQ(count, 800u);
    EXPECT_EQ(start, output.size());
}

}  // namespace
}  // namespace cli
