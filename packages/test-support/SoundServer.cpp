#include "test-support/SoundServer.h"

#include <atomic>
#include <fstream>
#include <stdexcept>

#include <unistd.h>

namespace testsupport {

namespace {

std::string nextFolder() {
    static std::atomic<int> counter{0};
    return "/tmp/tessaryn-sound-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

}  // namespace

SoundServer::SoundServer() : folder_(nextFolder()) { start(); }

SoundServer::~SoundServer() { script("stop"); }

ProcessResult SoundServer::script(const std::string& command) const {
    ProcessOptions options;
    options.arguments = {command};
    options.environment["TESSARYN_SOUND_SERVER_DIR"] = folder_;
    return runProcess(std::string(TESSARYN_SOURCE_DIR) + "/scripts/sound-server", options);
}

void SoundServer::start() {
    const ProcessResult result = script("start");
    if (result.exitStatus != 0) throw std::runtime_error("sound server did not start: " + result.standardError);
}

void SoundServer::stop() {
    const ProcessResult result = script("stop");
    if (result.exitStatus != 0) throw std::runtime_error("sound server did not stop: " + result.standardError);
}

std::string SoundServer::address() const { return "unix:" + folder_ + "/pulse/native"; }

std::map<std::string, std::optional<std::string>> SoundServer::environment() const {
    return {{"PULSE_SERVER", address()},
            {"PULSE_CLIENTCONFIG", folder_ + "/client.conf"},
            {"PULSE_COOKIE", folder_ + "/config/pulse/cookie"}};
}

ProcessResult SoundServer::pactl(const std::vector<std::string>& arguments) const {
    ProcessOptions options;
    options.arguments = arguments;
    options.environment = environment();
    return runProcess("/usr/bin/pactl", options);
}

pid_t SoundServer::serverPid() const {
    std::ifstream file(folder_ + "/pulse/pid");
    pid_t pid = -1;
    if (!(file >> pid)) return -1;
    return pid;
}

}  // namespace testsupport
