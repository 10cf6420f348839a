#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli-frame/Json/Json.h"

namespace harkline {

// One transcription result as the host receives it.
struct ResultPayload {
    std::string text;
    bool isFinal = false;
    std::optional<double> confidence;
    std::optional<std::int64_t> bytesProcessed;

    bool operator==(const ResultPayload&) const = default;
};

void to_json(cli::Json& json, const ResultPayload& payload);
// Reads a result back; throws on a missing or mistyped key.
void from_json(const cli::Json& json, ResultPayload& payload);

}  // namespace harkline
