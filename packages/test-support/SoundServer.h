#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "test-support/ChildProcess.h"

namespace testsupport {

// A private sound server (scripts/sound-server in a folder of its own), so that tests that
// restart it or change its devices cannot disturb tests beside them; started by the
// constructor (throws when it cannot), stopped by the destructor. TESSARYN_SOUND_SERVER_KIND
// picks "pulseaudio" (the default) or "pipewire", reached through the PulseAudio protocol.
// Sinks "test_stereo_sink" (2 channels) and "test_mono_sink" (1), sources "test_source_a"
// (2, the default) and "test_source_b" (1).
class SoundServer {
public:
    SoundServer();
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    void start();
    void stop();
    // Restarts only what serves the PulseAudio protocol, devices and defaults staying:
    // pipewire-pulse on PipeWire, the whole server on PulseAudio.
    void restartProtocolServer();

    // Adds a null source or sink (1 channel: mono, 2: front left and right) and returns once
    // pactl lists it; it stays until removeDevice. Throws when the server refuses it.
    void addSource(const std::string& name, const std::string& description, int channels);
    void addSink(const std::string& name, const std::string& description, int channels);
    // Adds a source the server lists but will not make the default (on PipeWire one without
    // an available port, which WirePlumber passes over); false on a server without such.
    bool addSourceThatCannotBeDefault(const std::string& name, const std::string& description);
    // Removes a source or sink, the fixed ones included, and returns once pactl no longer lists it.
    void removeDevice(const std::string& name);

    // The server's address for libpulse ("unix:.../native").
    std::string address() const;
    // The client settings (PULSE_SERVER and friends) for a child process.
    Environment environment() const;
    // pactl's output against this server without its last line feed; throws when pactl fails.
    std::string pactlOutput(const std::vector<std::string>& arguments) const;
    // The raw channel volumes pactl reports for a sink.
    std::vector<std::uint32_t> rawSinkVolumes(const std::string& sink) const;

private:
    ProcessOptions script(const std::string& command) const;
    // On PipeWire a node of the media class made with pw-cli, on PulseAudio the module loaded.
    void addDevice(const std::string& name, const std::string& description, const std::string& mediaClass,
                   int channels, const std::vector<std::string>& pulseAudioModule);
    void waitUntilListed(const std::string& name, bool wanted) const;

    bool pipeWire_;
    std::string folder_;
};

}  // namespace testsupport
