#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace pickline::atspi {

// The connection to the desktop's accessibility bus and the time budget of every call
// made over it: each call waits at most `perCall`, all of them together at most
// `wholeRun` counted from construction.
class AtSpiBusConnection {
public:
    struct Limits {
        std::chrono::milliseconds perCall{200};
        std::chrono::milliseconds wholeRun{1200};
    };

    explicit AtSpiBusConnection(Limits limits);
    ~AtSpiBusConnection();
    AtSpiBusConnection(const AtSpiBusConnection&) = delete;
    AtSpiBusConnection& operator=(const AtSpiBusConnection&) = delete;

    // Connects once; later calls repeat the first answer. Without a session bus named in
    // the environment nothing is started: libdbus would launch a stray bus that outlives us.
    // A bus that does not answer in time counts as missing.
    bool connect();

    // Bounds the next bus call by what is left of the run; false once the run is spent.
    bool arm();
    int remainingMilliseconds() const;

private:
    std::optional<std::string> askAccessibilityBusAddress(const char* sessionBus);

    Limits limits_;
    std::chrono::steady_clock::time_point deadline_;
    bool tried_ = false;
    bool initialised_ = false;  // libatspi holds a connection that must be closed
    bool connected_ = false;
};

}  // namespace pickline::atspi
