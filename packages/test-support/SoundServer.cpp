#include "test-support/SoundServer.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <unistd.h>

namespace testsupport {

namespace {

std::string nextFolder() {
    static std::atomic<int> counter{0};
    return "/tmp/tessaryn-sound-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

std::string kindName(SoundServerKind kind) { return kind == SoundServerKind::pipeWire ? "pipewire" : "pulseaudio"; }

// A module argument value with PulseAudio's quoting: a backslash before each special character.
std::string moduleArgument(const std::string& text) {
    std::string quoted;
    for (const char c : text) {
        if (c == '\\' || c == '"' || c == '\'' || c == ' ' || c == '\t') quoted += '\\';
        quoted += c;
    }
    return quoted;
}

// A string in PipeWire's SPA JSON.
std::string spaString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

void requireChannels(int channels) {
    if (channels != 1 && channels != 2) throw std::invalid_argument("test devices have 1 or 2 channels");
}

}  // namespace

SoundServerKind soundServerKindFromEnvironment() {
    const char* value = std::getenv("TESSARYN_SOUND_SERVER_KIND");
    const std::string kind = value ? value : "pulseaudio";
    if (kind == "pulseaudio") return SoundServerKind::pulseAudio;
    if (kind == "pipewire") return SoundServerKind::pipeWire;
    throw std::invalid_argument("TESSARYN_SOUND_SERVER_KIND must be pulseaudio or pipewire, not " + kind);
}

SoundServer::SoundServer(SoundServerKind kind) : kind_(kind), folder_(nextFolder()) { start(); }

SoundServer::~SoundServer() { script("stop"); }

ProcessResult SoundServer::script(const std::string& command) const {
    ProcessOptions options;
    options.arguments = {"--kind", kindName(kind_), command};
    options.environment["TESSARYN_SOUND_SERVER_DIR"] = folder_;
    return runProcess(std::string(TESSARYN_SOURCE_DIR) + "/scripts/sound-server", options);
}

void SoundServer::checked(const std::string& what, const ProcessResult& result) const {
    if (result.exitStatus != 0) {
        throw std::runtime_error("sound server: " + what + " failed: " + result.standardError);
    }
}

void SoundServer::start() { checked("start", script("start")); }

void SoundServer::stop() { checked("stop", script("stop")); }

void SoundServer::restartProtocolServer() { checked("restart", script("restart-protocol")); }

void SoundServer::runPipeWireCommand(const std::string& what, const std::vector<std::string>& arguments) const {
    ProcessOptions options;
    options.arguments = arguments;
    options.environment["PIPEWIRE_RUNTIME_DIR"] = folder_;
    options.environment["PIPEWIRE_REMOTE"] = std::nullopt;
    const ProcessResult result = runProcess("/usr/bin/pw-cli", options);
    // pw-cli ends with status 0 after a refused command too; it only says so.
    if (result.exitStatus != 0 || !result.standardError.empty()) {
        throw std::runtime_error("sound server: " + what + " failed: " + result.standardError);
    }
}

void SoundServer::addPipeWireNode(const std::string& name, const std::string& description,
                                  const std::string& mediaClass, int channels) {
    // object.linger keeps the node after pw-cli, which created it, has gone.
    const std::string properties = "{ factory.name = support.null-audio-sink node.name = " + spaString(name) +
                                   " node.description = " + spaString(description) + " media.class = " + mediaClass +
                                   " audio.position = [ " + (channels == 1 ? "MONO" : "FL FR") +
                                   " ] object.linger = true }";
    runPipeWireCommand("adding " + name, {"create-node", "adapter", properties});
}

void SoundServer::addSource(const std::string& name, const std::string& description, int channels) {
    requireChannels(channels);
    if (kind_ == SoundServerKind::pipeWire) {
        addPipeWireNode(name, description, "Audio/Source/Virtual", channels);
    } else {
        checked("adding " + name, pactl({"load-module", "module-null-source", "source_name=" + moduleArgument(name),
                                         "channels=" + std::to_string(channels),
                                         "description=" + moduleArgument(description)}));
    }
    waitUntilListed(name, true);
}

void SoundServer::addSink(const std::string& name, const std::string& description, int channels) {
    requireChannels(channels);
    if (kind_ == SoundServerKind::pipeWire) {
        addPipeWireNode(name, description, "Audio/Sink", channels);
    } else {
        // The description is quoted twice over, as a property inside a module argument;
        // PulseAudio takes escaped spaces there but no quotes or backslashes.
        if (description.find_first_of("\"'\\") != std::string::npos) {
            throw std::invalid_argument("a PulseAudio test sink description has no quotes or backslashes");
        }
        std::string escaped;
        for (const char c : description) escaped += c == ' ' ? std::string("\\ ") : std::string(1, c);
        checked("adding " + name,
                pactl({"load-module", "module-null-sink", "sink_name=" + moduleArgument(name),
                       "channels=" + std::to_string(channels),
                       std::string("channel_map=") + (channels == 1 ? "mono" : "front-left,front-right"),
                       "sink_properties=device.description=\"" + escaped + "\""}));
    }
    waitUntilListed(name, true);
}

bool SoundServer::addSourceThatCannotBeDefault(const std::string& name, const std::string& description) {
    if (kind_ != SoundServerKind::pipeWire) return false;
    addPipeWireNode(name, description, "Audio/Source", 1);
    waitUntilListed(name, true);
    return true;
}

void SoundServer::removeDevice(const std::string& name) {
    if (kind_ == SoundServerKind::pipeWire) {
        runPipeWireCommand("removing " + name, {"destroy", name});
    } else {
        // The module that made the device names it in its arguments.
        std::istringstream modules(pactl({"list", "short", "modules"}).standardOutput);
        std::string module;
        for (std::string line; std::getline(modules, line);) {
            std::istringstream fields(line);
            std::string index, moduleName, argument;
            fields >> index >> moduleName;
            while (fields >> argument) {
                if (argument == "sink_name=" + moduleArgument(name) || argument == "source_name=" + moduleArgument(name)) {
                    module = index;
                }
            }
        }
        if (module.empty()) throw std::runtime_error("sound server: no module made " + name);
        checked("removing " + name, pactl({"unload-module", module}));
    }
    waitUntilListed(name, false);
}

bool SoundServer::listed(const std::string& name) const {
    for (const char* kind : {"sinks", "sources"}) {
        std::istringstream lines(pactl({"list", "short", kind}).standardOutput);
        for (std::string line; std::getline(lines, line);) {
            const auto start = line.find('\t') + 1;
            if (start != 0 && line.compare(start, line.find('\t', start) - start, name) == 0) return true;
        }
    }
    return false;
}

// PipeWire announces a node to its PulseAudio clients a moment after it exists.
void SoundServer::waitUntilListed(const std::string& name, bool wanted) const {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (listed(name) != wanted) {
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

ProcessResult SoundServer::pactl(const std::vector<std::string>& arguments) const {
    ProcessOptions options;
    options.arguments = arguments;
    options.environment = environment();
    return runProcess("/usr/bin/pactl", options);
}

std::string SoundServer::pactlOutput(const std::vector<std::string>& arguments) const {
    const ProcessResult result = pactl(arguments);
    checked("pactl " + (arguments.empty() ? std::string() : arguments.front()), result);
    std::string output = result.standardOutput;
    if (output.ends_with('\n')) output.pop_back();
    return output;
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
