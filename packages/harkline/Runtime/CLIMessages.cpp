#include "harkline/Runtime/CLIMessages.h"

namespace harkline {

void to_json(cli::Json& json, const ResultPayload& payload) {
    json = cli::Json::object();
    json["text"] = payload.text;
    json["isFinal"] = payload.isFinal;
    if (payload.confidence) json["confidence"] = *payload.confidence;
    if (payload.bytesProcessed) json["bytesProcessed"] = *payload.bytesProcessed;
}

void from_json(const cli::Json& json, ResultPayload& payload) {
    payload.text = json.at("text").get<std::string>();
    payload.isFinal = json.at("isFinal").get<bool>();
    payload.confidence.reset();
    payload.bytesProcessed.reset();
    if (auto found = json.find("confidence"); found != json.end() && !found->is_null())
        payload.confidence = found->get<double>();
    if (auto found = json.find("bytesProcessed"); found != json.end() && !found->is_null())
        payload.bytesProcessed = found->get<std::int64_t>();
}

}  // namespace harkline
