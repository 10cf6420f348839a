#include "pickline/Runtime/CLITypes.h"

namespace pickline {

void to_json(nlohmann::json& json, const FileInfo& info) {
    json = nlohmann::json{{"path", info.path}};
    if (info.text) json["text"] = *info.text;
}

void to_json(nlohmann::json& json, const SelectionPayload& payload) {
    json = nlohmann::json{{"selectionType", payload.selectionType}, {"content", nullptr}};
    if (payload.content) std::visit([&](const auto& content) { json["content"] = content; }, *payload.content);
}

void to_json(nlohmann::json& json, const ErrorPayload& payload) {
    json = nlohmann::json{{"code", payload.code}, {"message", payload.message}};
}

}  // namespace pickline
