#include "test-support/SoundServer.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

#include <unistd.h>

namespace testsupport {

namespace {

const std::string kScript = std::string(TESSARYN_SOURCE_DIR) + "/scripts/sound-server";

bool pipeWireFromEnvironment() {
    const char* value = std::getenv("TESSARYN_SOUND_SERVER_KIND");
    const std::string kind = value ? value : "pulseaudio";
    if (kind != "pulseaudio" && kind != "pipewire") {
        throw std::invalid_argument("TESSARYN_SOUND_SERVER_KIND must be pulseaudio or pipewire, not " + kind);
    }
    return kind == "pipewire";
}

// Runs a helper to its end and returns its output without the last line feed; throws unless
// it succeeded. pw-cli ends with status 0 after a refused command too; it only says so.
std::string checked(const std::string& program, const ProcessOptions& options) {
    const ProcessResult result = runProcess(program, options);
    if (result.exitStatus != 0 || (program.ends_with("pw-cli") && !result.standardError.empty())) {
        std::string command = program;
        for (const auto& argument : options.arguments) command += " " + argument;
        throw std::runtime_error("sound server: " + command + " failed: " + result.standardError);
    }
    std::string output = result.standardOutput;
    if (output.ends_with('\n')) output.pop_back();
    return output;
}

// `text` with a backslash before each character of `special`: PulseAudio's quoting of
// module arguments, and of strings in PipeWire's SPA JSON.
std::string escaped(const std::string& text, std::string_view special) {
    std::string result;
    for (const char c : text) {
        if (special.find(c) != std::string_view::npos) result += '\\';
        result += c;
    }
    return result;
}
std::string moduleArgument(const std::string& text) { return escaped(text, "\\\"' \t"); }
std::string spaString(const std::string& text) { return "\"" + escaped(text, "\\\"") + "\""; }

}  // namespace

SoundServer::SoundServer() : pipeWire_(pipeWireFromEnvironment()) {
    static std::atomic<int> counter{0};
    folder_ = "/tmp/tessaryn-sound-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    start();
}

SoundServer::~SoundServer() { runProcess(kScript, script("stop")); }

ProcessOptions SoundServer::script(const std::string& command) const {
    return {{"--kind", pipeWire_ ? "pipewire" : "pulseaudio", command}, {{"TESSARYN_SOUND_SERVER_DIR", folder_}}};
}

void SoundServer::start() { checked(kScript, script("start")); }

void SoundServer::stop() { checked(kScript, script("stop")); }

void SoundServer::restartProtocolServer() { checked(kScript, script("restart-protocol")); }

void SoundServer::addDevice(const std::string& name, const std::string& description, const std::string& mediaClass,
                            int channels, const std::vector<std::string>& pulseAudioModule) {
    if (channels != 1 && channels != 2) throw std::invalid_argument("test devices have 1 or 2 channels");
    if (pipeWire_) {
        // object.linger keeps the node after pw-cli, which created it, has gone.
        const std::string properties = "{ factory.name = support.null-audio-sink node.name = " + spaString(name) +
                                       " node.description = " + spaString(description) + " media.class = " +
                                       mediaClass + " audio.position = [ " + (channels == 1 ? "MONO" : "FL FR") +
                                       " ] object.linger = true }";
        checked("/usr/bin/pw-cli", {{"create-node", "adapter", properties},
                                    {{"PIPEWIRE_RUNTIME_DIR", folder_}, {"PIPEWIRE_REMOTE", std::nullopt}}});
    } else {
        pactlOutput(pulseAudioModule);
    }
    waitUntilListed(name, true);
}

void SoundServer::addSource(const std::string& name, const std::string& description, int channels) {
    addDevice(name, description, "Audio/Source/Virtual", channels,
              {"load-module", "module-null-source", "source_name=" + moduleArgument(name),
               "channels=" + std::to_string(channels), "description=" + moduleArgument(description)});
}

void SoundServer::addSink(const std::string& name, const std::string& description, int channels) {
    // The description is quoted twice over, as a property inside a module argument;
    // PulseAudio takes escaped spaces there (but no quotes or backslashes).
    addDevice(name, description, "Audio/Sink", channels,
              {"load-module", "module-null-sink", "sink_name=" + moduleArgument(name),
               "channels=" + std::to_string(channels),
               std::string("channel_map=") + (channels == 1 ? "mono" : "front-left,front-right"),
               "sink_properties=device.description=\"" + escaped(description, " ") + "\""});
}

bool SoundServer::addSourceThatCannotBeDefault(const std::string& name, const std::string& description) {
    if (!pipeWire_) return false;
    addDevice(name, description, "Audio/Source", 1, {});
    return true;
}

void SoundServer::removeDevice(const std::string& name) {
    if (pipeWire_) {
        checked("/usr/bin/pw-cli", {{"destroy", name}, {{"PIPEWIRE_RUNTIME_DIR", folder_}, {"PIPEWIRE_REMOTE", std::nullopt}}});
    } else {
        // The module that made the device names it in its arguments.
        std::istringstream modules(pactlOutput({"list", "short", "modules"}));
        std::string module;
        for (std::string line; std::getline(modules, line);) {
            std::istringstream fields(line);
            std::string index, argument;
            fields >> index;
            while (fields >> argument) {
                if (argument == "sink_name=" + moduleArgument(name) || argument == "source_name=" + moduleArgument(name)) {
                    module = index;
                }
            }
        }
        if (module.empty()) throw std::runtime_error("sound server: no module made " + name);
        pactlOutput({"unload-module", module});
    }
    waitUntilListed(name, false);
}

// PipeWire announces a node to its PulseAudio clients a moment after it exists.
void SoundServer::waitUntilListed(const std::string& name, bool wanted) const {
    const auto listed = [&] {
        for (const char* kind : {"sinks", "sources"}) {
            std::istringstream lines(pactlOutput({"list", "short", kind}));
            for (std::string line; std::getline(lines, line);) {
                const auto start = line.find('\t') + 1;
                if (start != 0 && line.compare(start, line.find('\t', start) - start, name) == 0) return true;
            }
        }
        return false;
    };
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (listed() != wanted) {
        if (std::chrono::steady_clock::now() > giveUp) {
            throw std::runtime_error("sound server: " + name + (wanted ? " did not appear" : " did not go away"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string SoundServer::address() const { return "unix:" + folder_ + "/pulse/native"; }

Environment SoundServer::environment() const {
    return {{"PULSE_SERVER", address()},
            {"PULSE_CLIENTCONFIG", folder_ + "/client.conf"},
            {"PULSE_COOKIE", folder_ + "/config/pulse/cookie"}};
}

std::string SoundServer::pactlOutput(const std::vector<std::string>& arguments) const {
    return checked("/usr/bin/pactl", {arguments, environment()});
}

std::vector<std::uint32_t> SoundServer::rawSinkVolumes(const std::string& sink) const {
    const std::string line = pactlOutput({"get-sink-volume", sink});
    static const std::regex channel(R"([\w-]+: (\d+) /)");
    std::vector<std::uint32_t> volumes;
    for (auto match = std::sregex_iterator(line.begin(), line.end(), channel); match != std::sregex_iterator(); ++match) {
        volumes.push_back(static_cast<std::uint32_t>(std::stoul((*match)[1])));
    }
    return volumes;
}

}  // namespace testsupport
