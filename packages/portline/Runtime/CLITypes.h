#pragma once

#include <optional>
#include <string>

#include "cli-frame/Json/Json.h"
#include "cli-frame/Messages/AnyEncodable.h"

namespace portline {

struct StatusPayload {
    std::string stage;
    std::optional<std::string> code;
    std::optional<std::string> logPath;
    std::optional<std::string> message;
    std::optional<cli::AnyEncodable> data;
};

struct EventPayload {
    std::string event;
    cli::AnyEncodable data;
};

inline void to_json(cli::Json& json, const StatusPayload& payload) {
    json = cli::Json::object();
    json["stage"] = payload.stage;
    if (payload.code) json["code"] = *payload.code;
    if (payload.logPath) json["logPath"] = *payload.logPath;
    if (payload.message) json["message"] = *payload.message;
    if (payload.data) json["data"] = payload.data->encode();
}

inline void to_json(cli::Json& json, const EventPayload& payload) {
    json = cli::Json::object();
    json["event"] = payload.event;
    json["data"] = payload.data.encode();
}

}  // namespace portline
