#include <filesystem>
#include <regex>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "cli-frame/Json/Json.h"
#include "harkline/tests/HarklineOutput.h"
#include "test-support/ChildProcess.h"
#include "test-support/TemporaryHome.h"

namespace harkline {
namespace {

using testsupport::ProcessResult;
using testsupport::readFile;
using testsupport::TemporaryHome;
using testsupport::writeFile;

class HarklineProcess : public testing::Test {
protected:
    ProcessResult run(std::vector<std::string> arguments, const testsupport::Environment& extra = {}) const {
        return testsupport::runProcess(HARKLINE_BINARY, {std::move(arguments), testsupport::merged({home_.environment(), extra})});
    }

    std::string defaultLog() const { return testing_support::harklineLogPath(home_).string(); }
    std::filesystem::path diagnosticsFile() const { return home_.dataHome() / "tessaryn" / "harkline" / "diagnostics.json"; }

    TemporaryHome home_;
};

TEST_F(HarklineProcess, DiagnosticsStateOnAFreshHomeReportsOnlyTheLogPathAndLogsItsStart) {
    auto result = run({"diagnostics.state"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardOutput, "{\"type\":\"status\",\"payload\":{\"stage\":\"diagnostics-state\",\"logPath\":\"" +
                                         defaultLog() + "\",\"data\":{\"lastLogPath\":\"" + defaultLog() + "\"}}}\n");
    EXPECT_EQ(result.standardError, "");

    std::string escaped = std::regex_replace(defaultLog(), std::regex("/"), "\\/");
    EXPECT_EQ(readFile(diagnosticsFile()), "{\"lastLogPath\":\"" + escaped + "\"}");

    auto log = readFile(defaultLog());
    const std::regex expected(
        R"(\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\] \[INFO\] CLI 启动，日志写入 (.*)\n)"
        R"(\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\] \[DEBUG\] 写入消息 type=status\n)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(log, match, expected)) << log;
    EXPECT_EQ(match[1], defaultLog());
}

TEST_F(HarklineProcess, SectionsOfEarlierRunsSurviveAndWhatIsNoWholeSnapshotIsReplaced) {
    const std::string sections =
        R"("env":{"macOSVersion":"6.1.0","speechApi":"available","authorization":"granted"},)"
        R"("assets":{"locale":"en-US","status":"assets-ready","installed":true},)"
        R"("download":{"locale":"en-US","progress":0.5,"status":"downloading","updatedAt":817000000.25},)";
    const std::string reason =
        R"("env":{"macOSVersion":"1.2.3","speechApi":"unavailable","authorization":"unknown","reason":"speech_api_unavailable"},)";
    // Each file, and the sections of it that the next run keeps.
    const std::pair<std::string, std::string> files[] = {
        {"{" + sections + R"("lastLogPath":"\/old"})", sections},
        {"{" + reason + R"("assets":null,"extra":1})", reason},
        {"", ""}, {"{\"env\":", ""}, {std::string("\x00\x01garbage", 9), ""}, {"[]", ""}, {R"({"lastLogPath":5})", ""},
        {R"({"download":{"locale":"en-US","progress":0.1,"status":"downloading"}})", ""},  // no updatedAt
        {R"({"assets":{"locale":"en-US","status":"assets-ready","installed":"yes"}})", ""},
        {R"({"env":"available"})", ""},
        {R"({"lastLogPath":")" + std::string(1 << 20, 'x') + "\"}", ""},  // larger than a snapshot is read
        {"fifo", ""},  // not waited on
    };
    for (const auto& [contents, kept] : files) {
        std::filesystem::remove(diagnosticsFile());
        if (contents == "fifo") ASSERT_EQ(::mkfifo(diagnosticsFile().c_str(), 0600), 0);
        else writeFile(diagnosticsFile(), contents);
        auto result = run({"diagnostics.state"});
        EXPECT_EQ(result.exitStatus, 0) << contents.substr(0, 80);
        auto data = "{" + kept + "\"lastLogPath\":\"" + defaultLog() + "\"}";
        EXPECT_EQ(cli::Json::parse(result.standardOutput).at("payload").at("data").dump(), data) << contents.substr(0, 80);
        EXPECT_EQ(readFile(diagnosticsFile()), std::regex_replace(data, std::regex("/"), "\\/"));
    }
}

TEST_F(HarklineProcess, LogPathComesFromTheOptionThenTheVariableThenTheDefault) {
    auto explicitLog = (home_.path() / "new folder" / "x.log").string();
    auto variableLog = (home_.path() / "variable.log").string();
    auto logPathOf = [](const ProcessResult& result) {
        return cli::Json::parse(result.standardOutput).at("payload").at("logPath").get<std::string>();
    };
    EXPECT_EQ(logPathOf(run({"diagnostics.state", "--log-file", explicitLog})), explicitLog);
    EXPECT_EQ(logPathOf(run({"--log-file=" + explicitLog, "diagnostics.state"}, {{"SPEECH_CLI_LOG_PATH", variableLog}})),
              explicitLog);
    EXPECT_EQ(logPathOf(run({"--log-file=", "diagnostics.state"}, {{"SPEECH_CLI_LOG_PATH", variableLog}})), variableLog);
    EXPECT_EQ(logPathOf(run({"diagnostics.state", "--log-file"}, {{"SPEECH_CLI_LOG_PATH", ""}})), defaultLog());
    EXPECT_TRUE(std::filesystem::exists(explicitLog));
    EXPECT_TRUE(std::filesystem::exists(variableLog));
}

// Only a regular file is a log: a FIFO (which would block the start) and a link (which
// could name any file of the user) are refused as a path through a file is.
TEST_F(HarklineProcess, AnUnopenableLogIsReportedOnStandardErrorAndTheToolGoesOn) {
    writeFile(home_.path() / "file", "x");
    auto fifo = (home_.path() / "fifo.log").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto target = home_.path() / "notes.txt";
    writeFile(target, "mine\n");
    auto link = (home_.path() / "link.log").string();
    std::filesystem::create_symlink(target, link);
    for (const auto& [logFile, problem] : std::vector<std::pair<std::string, std::string>>{
             {(home_.path() / "file" / "x.log").string(), "Not a directory"}, {fifo, fifo + " is not a regular file"},
             {"/dev/null", "/dev/null is not a regular file"}, {link, link + " is a symbolic link"}}) {
        auto refused = run({"diagnostics.state"}, {{"SPEECH_CLI_LOG_PATH", logFile}});
        EXPECT_FALSE(refused.timedOut) << logFile;
        EXPECT_EQ(refused.exitStatus, 0);
        EXPECT_EQ(refused.standardError, "harkline logger 初始化失败: " + problem + "\n");
        auto payload = cli::Json::parse(refused.standardOutput).at("payload");
        EXPECT_EQ(payload.at("logPath"), logFile);
        EXPECT_EQ(payload.at("data").at("lastLogPath"), logFile);
    }
    EXPECT_EQ(readFile(target), "mine\n");
}

TEST_F(HarklineProcess, DiagnosticsLogsReportsThePathAndTheTailOnRequest) {
    auto log = home_.path() / "tail.log";
    writeFile(log, "a\nb\nc\n");
    auto dataOf = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"diagnostics.logs", "--log-file", log.string()});
        auto result = run(arguments);
        EXPECT_EQ(result.exitStatus, 0);
        auto message = cli::Json::parse(result.standardOutput);
        EXPECT_EQ(message.at("payload").at("stage"), "log-path");
        return message.at("payload").at("data");
    };
    // The tool's own start line may or may not have reached the file when the command
    // reads it (the logger writes in the background), so only the old lines are fixed.
    auto data = dataOf({"--tail", "2"});
    auto tail = data.at("tail").get<std::string>();
    EXPECT_TRUE(tail == "c\n" || (tail.starts_with("[") && tail.find("] [INFO] CLI 启动，日志写入 ") != std::string::npos &&
                                 tail.ends_with("\n") && tail.find('\n') == tail.size() - 1))
        << tail;
    EXPECT_EQ(data.at("path"), log.string());
    for (std::vector<std::string> noTail : {std::vector<std::string>{"--tail", "0"}, {"--tail", "-3"}, {"--tail=abc"},
                                            {"--tail="}, {"--tail"}, {}, {"--tail=5x"}, {"--tail= 5"}, {"--tail=+-3"},
                                            {"--tail=1.5"}, {"--tail=9223372036854775808"}})
        EXPECT_FALSE(dataOf(noTail).contains("tail")) << (noTail.empty() ? "" : noTail.back());
    for (const char* whole : {"--tail=+1000", "--tail=9223372036854775807"})
        EXPECT_TRUE(dataOf({whole}).at("tail").get<std::string>().starts_with("a\nb\nc\n")) << whole;
}

TEST_F(HarklineProcess, HostileArgumentsNeitherCrashNorHang) {
    std::string invalid = "\xff\xfe\xc3";
    std::string huge(100000, 'x');  // near the kernel's limit for one argument
    for (std::vector<std::string> arguments :
         {std::vector<std::string>{"diagnostics.logs", "--tail", invalid}, {"diagnostics.logs", "--tail=" + huge},
          {"diagnostics.state", "", "", "--log-file"}, {"diagnostics.state", invalid, huge}}) {
        auto result = run(arguments);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_NO_THROW(cli::Json::parse(result.standardOutput));
    }
    // A log path that is not UTF-8 is written out repaired, never as broken JSON.
    auto result = run({"diagnostics.state", "--log-file", (home_.path() / ("log" + invalid)).string()});
    EXPECT_EQ(result.exitStatus, 0);
    auto logPath = cli::Json::parse(result.standardOutput).at("payload").at("logPath").get<std::string>();
    EXPECT_TRUE(logPath.ends_with("log\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"));
}

TEST_F(HarklineProcess, ProcessesAppendingToOneLogKeepEveryLineWhole) {
    auto log = (home_.path() / "shared.log").string();
    std::vector<std::thread> runners;
    for (int runner = 0; runner < 4; ++runner)
        runners.emplace_back([&] {
            for (int index = 0; index < 10; ++index) run({"diagnostics.state", "--log-file", log});
        });
    for (auto& runner : runners) runner.join();
    auto text = readFile(log);
    EXPECT_TRUE(text.ends_with("\n"));
    const std::regex whole(R"(\[[0-9T:.\-]+Z\] \[(INFO|DEBUG)\] (CLI 启动，日志写入 .*|写入消息 type=status))");
    auto lines = testsupport::splitLines(text);
    for (const auto& line : lines) EXPECT_TRUE(std::regex_match(line, whole)) << line;
    EXPECT_EQ(lines.size(), 80u);  // every queued line reached the file before its process exited
}

}  // namespace
}  // namespace harkline
