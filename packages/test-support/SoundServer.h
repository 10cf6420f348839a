#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "test-support/ChildProcess.h"

namespace testsupport {

// A private PulseAudio server (scripts/sound-server in a folder of its own) for tests that
// restart the server or change its devices, so they cannot disturb tests running beside
// them. It has the devices of the shared test server: sinks "test_stereo_sink" (2 channels)
// and "test_mono_sink" (1), sources "test_source_a" (2, the default) and "test_source_b" (1).
// Started by the constructor, stopped by the destructor; throws when it cannot start.
class SoundServer {
public:
    SoundServer();
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    void start();
    void stop();

    // The server's address for libpulse ("unix:.../native").
    std::string address() const;
    // The client settings (PULSE_SERVER and friends) for a child process.
    std::map<std::string, std::optional<std::string>> environment() const;
    // Runs pactl against this server.
    ProcessResult pactl(const std::vector<std::string>& arguments) const;
    // The daemon's process id, or -1 when it is not running.
    pid_t serverPid() const;

private:
    ProcessResult script(const std::string& command) const;

    std::string folder_;
};

}  // namespace testsupport
