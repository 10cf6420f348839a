// The built pickline against real applications on the headless desktop that
// scripts/headless-desktop starts (scripts/test exports its environment).

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/file.h>
#include <unistd.h>

#include "test-support/ChildProcess.h"
#include "test-support/TemporaryHome.h"

namespace {

using namespace std::chrono_literals;
using testsupport::ChildProcess;
using testsupport::ProcessOptions;
using testsupport::ProcessResult;
using Json = nlohmann::json;

const std::string appsFolder = PICKLINE_TEST_APPS;

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* desktop = std::getenv("TESSARYN_DESKTOP_DIR");
        if (desktop == nullptr || std::getenv("DISPLAY") == nullptr || std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr)
            GTEST_FAIL() << "no headless desktop: run eval \"$(scripts/headless-desktop env)\" after starting it";
        // One desktop has one active window: tests that use it take turns, also across processes.
        lock_ = ::open((std::filesystem::path(desktop) / "tests.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(lock_, 0);
        ASSERT_EQ(::flock(lock_, LOCK_EX), 0);
    }
    void TearDown() override {
        apps_.clear();
        if (lock_ >= 0) ::close(lock_);
    }

    // Environment for programs on the desktop: a private home, and nothing of the real one.
    std::map<std::string, std::optional<std::string>> environment() const {
        auto variables = home.environment();
        variables["XDG_RUNTIME_DIR"] = home.path().string();
        variables["GSETTINGS_BACKEND"] = "memory";
        variables["NO_AT_BRIDGE"] = std::nullopt;
        variables["AT_SPI_BUS_ADDRESS"] = std::nullopt;
        return variables;
    }

    // Starts a program that runs until the test ends.
    ChildProcess& start(const std::string& program, std::vector<std::string> arguments,
                        std::map<std::string, std::optional<std::string>> extra = {}) {
        auto variables = environment();
        for (auto& [name, value] : extra) variables[name] = value;
        apps_.push_back(std::make_unique<ChildProcess>(program, ProcessOptions{std::move(arguments), variables}));
        return *apps_.back();
    }
    // Starts a program that prints "ready" once it shows what the test needs.
    ChildProcess& startReady(const std::string& program, std::vector<std::string> arguments) {
        auto& child = start(program, std::move(arguments));
        auto line = child.readLine(20s);
        if (line != "ready") ADD_FAILURE() << program << " did not get ready: " << child.wait(1s).standardError;
        return child;
    }
    ChildProcess& showSelection(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), appsFolder + "/selection-app.py");
        return startReady("/usr/bin/python3", std::move(arguments));
    }

    ProcessResult runPickline(std::map<std::string, std::optional<std::string>> extra = {}) {
        auto variables = environment();
        for (auto& [name, value] : extra) variables[name] = value;
        return testsupport::runProcess(PICKLINE_BINARY, {{}, variables}, "", 10s);
    }
    // pickline's one line, parsed; fails the test unless it ended with `status` after one line.
    Json runAndParse(int status) {
        auto result = runPickline();
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitStatus, status) << result.standardOutput << result.standardError;
        auto lines = result.lines();
        EXPECT_EQ(lines.size(), 1u) << result.standardOutput;
        if (lines.empty()) return Json();
        return Json::parse(lines.front());
    }
    Json textResult(const std::string& text) const {
        return Json{{"type", "result"}, {"payload", {{"selectionType", "text"}, {"content", text}}}};
    }

    testsupport::TemporaryHome home;

private:
    int lock_ = -1;
    std::vector<std::unique_ptr<ChildProcess>> apps_;
};

const Json noneResult = Json::parse(R"({"type":"result","payload":{"selectionType":"none","content":null}})");

TEST_F(DesktopTest, ReportsTextSelectedInAnEntryAndInATextView) {
    {
        showSelection({"entry", "hello brave world", "6", "11"});
        EXPECT_EQ(runAndParse(0), textResult("brave"));
    }
    TearDown();
    SetUp();
    showSelection({"textview", "first line\nsecond / line\nthird", "6", "24"});
    auto result = runPickline();
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardOutput,
              "{\"payload\":{\"content\":\"line\\nsecond \\/ line\",\"selectionType\":\"text\"},\"type\":\"result\"}\n");
}

TEST_F(DesktopTest, ReportsNoneWhenNothingIsSelected) {
    showSelection({"none", "text without a selection"});
    EXPECT_EQ(runAndParse(0), noneResult);
}

TEST_F(DesktopTest, FindsASelectionThreeLevelsBelowTheFocusButNotFour) {
    showSelection({"nested", "3", "deep label"});
    EXPECT_EQ(runAndParse(0), textResult("deep label"));
    TearDown();
    SetUp();
    showSelection({"nested", "4", "deeper label"});
    EXPECT_EQ(runAndParse(0), noneResult);
}

TEST_F(DesktopTest, CutsALongSelectionAfter2000UserPerceivedCharacters) {
    // Each "e" with a combining accent is two code points and one character.
    std::string accented, expected;
    for (int index = 0; index < 2500; ++index) accented += "e\u0301";
    for (int index = 0; index < 2000; ++index) expected += "e\u0301";
    showSelection({"entry", accented, "0", "-1"});
    EXPECT_EQ(runAndParse(0), textResult(expected));
}

TEST_F(DesktopTest, ReportsFilesSelectedInTheFileManagerWithSmallTextContents) {
    auto folder = home.path() / "My Files";
    testsupport::writeFile(folder / "notes one.txt", "first/notes\n");
    testsupport::writeFile(folder / "legacy.md", "caf\xe9");
    testsupport::writeFile(folder / "picture.png", "not text");
    testsupport::writeFile(folder / "zz big.log", std::string(51201, 'z'));
    std::filesystem::create_directories(folder / "sub folder");

    // PCManFM is a GTK 2 application: it joins the accessibility bus through these modules.
    start("/usr/bin/pcmanfm", {folder.string()}, {{"GTK_MODULES", "gail:atk-bridge"}});
    startReady("/usr/bin/python3",
               {appsFolder + "/select-files.py", "legacy.md", "notes one.txt", "picture.png", "sub folder",
                "zz big.log"});

    auto url = "file://" + home.path().string() + "/My%20Files/";
    Json expected{{"type", "result"},
                  {"payload",
                   {{"selectionType", "files"},
                    {"content", Json::array({
                                    {{"path", url + "sub%20folder/"}},
                                    {{"path", url + "legacy.md"}, {"text", "café"}},
                                    {{"path", url + "notes%20one.txt"}, {"text", "first/notes\n"}},
                                    {{"path", url + "picture.png"}},
                                    {{"path", url + "zz%20big.log"}},
                                })}}}};
    EXPECT_EQ(runAndParse(0), expected);
}

TEST_F(DesktopTest, EndsInTimeWhenAnApplicationHangsOnTheBus) {
    auto& behind = showSelection({"entry", "behind", "0", "6"});
    auto& front = showSelection({"entry", "in front", "0", "2"});

    // A frozen application in the background costs one bounded call, nothing more.
    behind.signal(SIGSTOP);
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(runAndParse(0), textResult("in"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);

    // A frozen frontmost application cannot tell that its window is active.
    front.signal(SIGSTOP);
    started = std::chrono::steady_clock::now();
    EXPECT_EQ(runAndParse(1), Json::parse(R"({"type":"error","payload":{"code":"NO_FRONTMOST_APP",)"
                                          R"("message":"Could not identify frontmost application"}})"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    behind.signal(SIGCONT);
    front.signal(SIGCONT);
}

TEST_F(DesktopTest, WithoutASessionBusIsNotTrustedAndStartsNoBus) {
    showSelection({"entry", "unreachable", "0", "4"});
    auto result = runPickline({{"DBUS_SESSION_BUS_ADDRESS", std::nullopt}});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(Json::parse(result.standardOutput),
              Json::parse(R"({"type":"error","payload":{"code":"ACCESSIBILITY_DENIED","message":)"
                          R"("Accessibility permission not granted. Please enable in System Preferences > )"
                          R"(Privacy & Security > Accessibility."}})"));
    // libdbus records an automatically launched bus under the home folder.
    EXPECT_FALSE(std::filesystem::exists(home.path() / ".dbus"));

    result = runPickline({{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (home.path() / "no-bus").string()}});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_FALSE(std::filesystem::exists(home.path() / ".dbus"));
}

}  // namespace
