#pragma once

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "audio-hardware/AudioHardware.h"
#include "audio-hardware/PulseAudio/PulseQueryConnection.h"

namespace audiohw {

struct SinkRecord {
    DeviceID id = kNoDevice;
    std::string name;
    std::optional<std::string> description;
    pa_cvolume volume{};
    bool muted = false;
};

// Monitors of sinks are left out: they are no devices.
struct SourceRecord {
    DeviceID id = kNoDevice;
    std::string name;
    std::optional<std::string> description;
    std::uint32_t channels = 0;
};

// The server's defaults, sinks and sources, as one read fetches them.
struct PulseServerState {
    std::optional<std::string> defaultSink;
    std::optional<std::string> defaultSource;
    std::vector<SinkRecord> sinks;
    std::vector<SourceRecord> sources;

    // Asks for all three at once and waits for the answers together; false when they did not all come.
    static bool fetch(PulseQueryConnection& connection, PulseServerState& state);
    // The same over any connection: `perform` sends the operations together and waits for their answers.
    using PerformOperations = std::function<bool(std::initializer_list<PulseOperation>)>;
    static bool fetch(const PerformOperations& perform, PulseServerState& state);
};

}  // namespace audiohw
