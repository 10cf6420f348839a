#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli-frame/Messages/AnyEncodable.h"

namespace cli {

// The payload of every status line. Fields left empty are left out; the others come in
// this order. The emitter fills in the log path.
struct StatusPayload {
    std::string stage;
    std::optional<std::int64_t> bytesProcessed;
    std::optional<std::string> code;
    std::optional<std::string> logPath;
    std::optional<std::string> message;
    std::optional<AnyEncodable> data;
};

inline void to_json(Json& json, const StatusPayload& payload) {
    json = Json::object();
    json["stage"] = payload.stage;
    if (payload.bytesProcessed) json["bytesProcessed"] = *payload.bytesProcessed;
    if (payload.code) json["code"] = *payload.code;
    if (payload.logPath) json["logPath"] = *payload.logPath;
    if (payload.message) json["message"] = *payload.message;
    if (payload.data) json["data"] = payload.data->encode();
}

}  // namespace cli
