// The built pickline against real applications on the headless desktops that
// scripts/headless-desktop starts, X11 and Wayland (scripts/test exports their folders).

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <tuple>

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
using Variables = testsupport::Environment;

const std::string appsFolder = PICKLINE_TEST_APPS;

// Xvfb with openbox, or mutter as a Wayland compositor without Xwayland; the
// applications run as native clients of either.
enum class DesktopKind { x11, wayland };

std::string nameOf(DesktopKind kind) { return kind == DesktopKind::x11 ? "X11" : "Wayland"; }
void PrintTo(DesktopKind kind, std::ostream* out) { *out << nameOf(kind); }

class DesktopTest : public ::testing::Test {
protected:
    explicit DesktopTest(DesktopKind kind = DesktopKind::x11) : kind_(kind) {}

    void SetUp() override {
        const char* folder =
            std::getenv(kind_ == DesktopKind::x11 ? "TESSARYN_DESKTOP_DIR" : "TESSARYN_WAYLAND_DESKTOP_DIR");
        std::ifstream clientEnvironment(std::filesystem::path(folder != nullptr ? folder : "") / "client-env");
        if (folder == nullptr || !clientEnvironment)
            GTEST_FAIL() << "no " << nameOf(kind_) << " headless desktop: start it with scripts/headless-desktop "
                         << "[--kind wayland] start, then eval its env";
        desktop_.clear();
        for (std::string line; std::getline(clientEnvironment, line);)
            if (auto equals = line.find('='); equals != std::string::npos)
                desktop_[line.substr(0, equals)] = line.substr(equals + 1);
        // One desktop has one active window: tests that use it take turns, also across processes.
        lock_ = ::open((std::filesystem::path(folder) / "tests.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(lock_, 0);
        ASSERT_EQ(::flock(lock_, LOCK_EX), 0);
    }
    void TearDown() override {
        apps_.clear();
        if (lock_ >= 0) ::close(lock_);
        lock_ = -1;
    }

    // Environment for programs on the desktop: a private home, and nothing of the real one.
    Variables environment() const {
        return testsupport::merged({home.environment(),
                                    {{"XDG_RUNTIME_DIR", home.path().string()}, {"GSETTINGS_BACKEND", "memory"},
                                     {"NO_AT_BRIDGE", std::nullopt}, {"AT_SPI_BUS_ADDRESS", std::nullopt},
                                     {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt},
                                     {"GDK_BACKEND", std::nullopt}, {"QT_QPA_PLATFORM", std::nullopt}},
                                    desktop_});
    }

    // Starts a program that runs until the test ends.
    ChildProcess& start(const std::string& program, std::vector<std::string> arguments, Variables extra = {}) {
        apps_.push_back(std::make_unique<ChildProcess>(
            program, ProcessOptions{std::move(arguments), testsupport::merged({environment(), extra})}));
        return *apps_.back();
    }
    // Starts a program that prints "ready" once it shows what the test needs.
    ChildProcess& startReady(const std::string& program, std::vector<std::string> arguments) {
        auto& child = start(program, std::move(arguments));
        auto line = child.readLine(40s);
        if (line != "ready") ADD_FAILURE() << program << " did not get ready: " << child.wait(1s).standardError;
        return child;
    }
    ChildProcess& showSelection(std::vector<std::string> arguments, const std::string& app = "selection-app.py") {
        arguments.insert(arguments.begin(), appsFolder + "/" + app);
        return startReady("/usr/bin/python3", std::move(arguments));
    }
    // Starts an application whose chatter on standard output and error goes nowhere: a pipe
    // that nobody drains would stop it.
    void startQuietly(const std::string& program, std::vector<std::string> arguments, Variables extra) {
        arguments.insert(arguments.begin(), {"-c", R"(exec "$0" "$@" >/dev/null 2>&1)", program});
        start("/bin/sh", std::move(arguments), std::move(extra));
    }

    ProcessResult runPickline(Variables extra = {}) {
        return testsupport::runProcess(PICKLINE_BINARY, {{}, testsupport::merged({environment(), extra})}, "", 10s);
    }
    // pickline's one line, parsed; fails the test unless it ended with `status` after one line.
    Json runAndParse(int status) {
        auto result = runPickline();
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitStatus, status) << result.standardOutput << result.standardError;
        auto lines = result.lines();
        EXPECT_EQ(lines.size(), 1u) << result.standardOutput;
        return lines.empty() ? Json() : Json::parse(lines.front());
    }
    // pickline's one line, its files sorted: a file manager lists a selection in an order of its own.
    Json runWithSortedFiles() {
        auto line = runAndParse(0);
        if (auto& files = line["payload"]["content"]; files.is_array()) std::sort(files.begin(), files.end());
        return line;
    }

    testsupport::TemporaryHome home;

private:
    DesktopKind kind_;
    Variables desktop_;
    int lock_ = -1;
    std::vector<std::unique_ptr<ChildProcess>> apps_;
};

// Tests that run alike on both kinds of desktop.
class OnEachDesktop : public DesktopTest, public ::testing::WithParamInterface<DesktopKind> {
protected:
    OnEachDesktop() : DesktopTest(GetParam()) {}
};

// Tests of what only X11 applications show (GTK 2) or that need no particular desktop.
using X11DesktopTest = DesktopTest;

TEST_P(OnEachDesktop, ReportsTextSelectedInGtk3Gtk4AndQt5ApplicationsOrNone) {
    const std::string brave = R"({"payload":{"content":"brave","selectionType":"text"},"type":"result"})" "\n";
    const std::string lines = R"({"payload":{"content":"line\nsecond \/ line","selectionType":"text"},"type":"result"})" "\n";
    const std::string none = R"({"payload":{"content":null,"selectionType":"none"},"type":"result"})" "\n";
    // GTK 4 and Qt 5 offer no collection query: the focus is found by walking the window.
    for (const auto& [app, arguments, line] : std::vector<std::tuple<std::string, std::vector<std::string>, std::string>>{
             {"selection-app.py", {"entry", "hello brave world", "6", "11"}, brave},
             {"selection-app.py", {"textview", "first line\nsecond / line\nthird", "6", "24"}, lines},
             {"gtk4-selection.py", {"hello brave world", "6", "11"}, brave},
             {"qt5-selection.py", {"first line\nsecond / line", "6", "24"}, lines},
             {"selection-app.py", {"none", "text without a selection"}, none}}) {
        SCOPED_TRACE(app + " " + arguments.front());
        showSelection(arguments, app);
        auto result = runPickline();
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.standardOutput, line);
        TearDown();
        SetUp();
    }
}

struct FileManager {
    std::string busName;
    std::vector<std::string> command;  // the folder is appended
    Variables environment;
    DesktopKind desktop = DesktopKind::x11;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const FileManager& fileManager, std::ostream* out) {
    *out << fileManager.busName << " on " << nameOf(fileManager.desktop);
}

class FileManagerTest : public DesktopTest, public ::testing::WithParamInterface<FileManager> {
protected:
    FileManagerTest() : DesktopTest(GetParam().desktop) {}
};

// Two items selected as a user would, among a text file, a name with a space and an accent
// and a folder: exactly their paths, with the small text file's content.
TEST_P(FileManagerTest, ReportsTheSelectedFilesWithSmallTextContents) {
    // Outside the home folder, so that path bars show the folder from the root up.
    testsupport::TemporaryHome elsewhere;
    auto folder = elsewhere.path() / "My Files";
    testsupport::writeFile(folder / "notes.txt", "first/notes\n");
    testsupport::writeFile(folder / "café menu.png", "not text");
    std::filesystem::create_directories(folder / "sub");

    auto command = GetParam().command;
    command.push_back(folder.string());
    startQuietly(command.front(), {command.begin() + 1, command.end()}, GetParam().environment);
    startReady("/usr/bin/python3", {appsFolder + "/select-items.py", GetParam().busName, "café menu.png", "notes.txt"});

    auto url = "file://" + elsewhere.path().string() + "/My%20Files/";
    EXPECT_EQ(runWithSortedFiles(), Json::parse(R"({"type":"result","payload":{"selectionType":"files","content":[)"
                                                R"({"path":")" + url + R"(caf%C3%A9%20menu.png"},)"
                                                R"({"path":")" + url + R"(notes.txt","text":"first/notes\n"}]}})"));
}

// Labels that are not file names: PCManFM shows a desktop entry's Name and a name that is
// not UTF-8 with a replacement character; the paths reported are the files' own.
TEST_F(X11DesktopTest, ReportsTheFilesBehindLabelsThatAreNotTheirNames) {
    testsupport::TemporaryHome elsewhere;
    testsupport::writeFile(elsewhere.path() / "app.desktop", "[Desktop Entry]\nType=Application\nName=Pretty Name\n");
    testsupport::writeFile(elsewhere.path() / "caf\xe9.txt", "old");
    startQuietly("/usr/bin/pcmanfm", {elsewhere.path().string()}, {{"GTK_MODULES", "gail:atk-bridge"}});
    startReady("/usr/bin/python3", {appsFolder + "/select-items.py", "pcmanfm", "Pretty Name", "caf\uFFFD.txt"});

    auto url = "file://" + elsewhere.path().string();
    EXPECT_EQ(runWithSortedFiles()["payload"]["content"],
              Json::parse(R"([{"path":")" + url + R"(/app.desktop"},{"path":")" + url + R"(/caf%E9.txt","text":"old"}])"));
}

FileManager nautilus{"org.gnome.Nautilus", {"/usr/bin/nautilus", "--new-window"},
                     Variables{{"GIO_USE_VFS", "local"}}};
FileManager dolphin{"dolphin", {"/usr/bin/dolphin"}, {}};
FileManager thunar{"thunar", {"/usr/bin/thunar"}, {}};
FileManager nemo{"nemo", {"/usr/bin/nemo"}, {}};

FileManager onWayland(FileManager fileManager) {
    fileManager.desktop = DesktopKind::wayland;
    return fileManager;
}

// Caja and PCManFM (GTK 2) open X11 displays only.
INSTANTIATE_TEST_SUITE_P(
    Desktop, FileManagerTest,
    ::testing::Values(nautilus, dolphin, thunar, nemo, FileManager{"caja", {"/usr/bin/caja", "--no-desktop"}, {}},
                      // A GTK 2 application: it joins the accessibility bus through these modules.
                      FileManager{"pcmanfm", {"/usr/bin/pcmanfm"}, Variables{{"GTK_MODULES", "gail:atk-bridge"}}},
                      onWayland(nautilus), onWayland(dolphin), onWayland(thunar), onWayland(nemo)),
    [](const auto& instance) {
        const auto& busName = instance.param.busName;
        return busName.substr(busName.rfind('.') + 1) + "On" + nameOf(instance.param.desktop);
    });

TEST_P(OnEachDesktop, EndsInTimeWhenAnApplicationHangsOnTheBus) {
    auto& behind = showSelection({"entry", "behind", "0", "6"});
    auto& front = showSelection({"entry", "in front", "0", "2"});

    // A frozen application in the background costs one bounded call, nothing more.
    behind.signal(SIGSTOP);
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(runAndParse(0), Json::parse(R"({"type":"result","payload":{"selectionType":"text","content":"in"}})"));
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

TEST_F(X11DesktopTest, WithoutAnAnsweringBusOrDisplayIsNotTrustedAndStartsNoBus) {
    showSelection({"entry", "unreachable", "0", "4"});
    const auto notTrusted = Json::parse(R"({"type":"error","payload":{"code":"ACCESSIBILITY_DENIED","message":)"
                                        R"("Accessibility permission not granted. Please enable in System Preferences > )"
                                        R"(Privacy & Security > Accessibility."}})");
    std::vector<Variables> buses{
        {{"DBUS_SESSION_BUS_ADDRESS", std::nullopt}},
        {{"DBUS_SESSION_BUS_ADDRESS", std::nullopt}, {"DISPLAY", std::nullopt}},
        {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (home.path() / "no-bus").string()}}};
    // Buses that take the connection and then stall, lie or never answer a call, as session
    // bus and as accessibility bus: libdbus alone would wait for ever, spin, or wait 25 s.
    for (const char* mode : {"silent", "garbage-once", "garbage-forever", "deaf"}) {
        auto address = "unix:path=" + (home.path() / mode).string();
        startReady("/usr/bin/python3", {appsFolder + "/lying-bus.py", (home.path() / mode).string(), mode});
        buses.push_back({{"DBUS_SESSION_BUS_ADDRESS", address}});
        buses.push_back({{"AT_SPI_BUS_ADDRESS", address}});
    }
    for (const auto& variables : buses) {
        auto started = std::chrono::steady_clock::now();
        auto result = runPickline(variables);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << variables.begin()->second.value_or("unset");
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(Json::parse(result.standardOutput), notTrusted);
    }
    // libdbus records an automatically launched bus under the home folder.
    EXPECT_FALSE(std::filesystem::exists(home.path() / ".dbus"));
}

INSTANTIATE_TEST_SUITE_P(Desktop, OnEachDesktop, ::testing::Values(DesktopKind::x11, DesktopKind::wayland),
                         [](const auto& instance) { return nameOf(instance.param); });

}  // namespace
