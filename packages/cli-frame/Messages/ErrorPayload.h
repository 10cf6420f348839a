#pragma once

#include <optional>
#include <string>

#include "cli-frame/Messages/AnyEncodable.h"

namespace cli {

struct ErrorPayload {
    std::string code;
    std::string message;
    std::optional<std::string> logPath;
    std::optional<AnyEncodable> details;
};

inline void to_json(Json& json, const ErrorPayload& payload) {
    json = Json::object();
    json["code"] = payload.code;
    json["message"] = payload.message;
    if (payload.logPath) json["logPath"] = *payload.logPath;
    if (payload.details) json["details"] = payload.details->encode();
}

}  // namespace cli
