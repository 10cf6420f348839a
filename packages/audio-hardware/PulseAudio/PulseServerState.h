#pragma once

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "audio-hardware/AudioHardware.h"
#include "audio-hardware/PulseAudio/PulseQueryConnection.h"

namespace audiohw {

struct SinkRecord {
    ObjectID id = kUnknownObject;
    std::string name;
    std::optional<std::string> description;
    pa_cvolume volume{};
    bool muted = false;
};

// Monitors of sinks are left out: they are no devices.
struct SourceRecord {
    ObjectID id = kUnknownObject;
    std::string name;
    std::optional<std::string> description;
    std::uint32_t channels = 0;
};

using DeviceRecord = std::variant<SinkRecord, SourceRecord>;

// What every property answer is taken from: the server's defaults, sinks and sources.
struct PulseServerState {
    std::optional<std::string> defaultSink;
    std::optional<std::string> defaultSource;
    std::vector<SinkRecord> sinks;
    std::vector<SourceRecord> sources;

    // Asks for all three at once and waits for the answers together.
    static Status fetch(PulseQueryConnection& connection, PulseServerState& state);
};

}  // namespace audiohw
