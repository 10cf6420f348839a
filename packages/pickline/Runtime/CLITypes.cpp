#include "pickline/Runtime/CLITypes.h"

namespace pickline {

void to_json(cli::Json& json, const FileInfo& info) {
    json = cli::Json{{"path", info.path}};
    if (info.text) json["text"] = *info.text;
}

void to_json(cli::Json& json, const SelectionPayload& payload) {
    json = cli::Json{{"selectionType", payload.selectionType}, {"content", nullptr}};
    if (payload.content) std::visit([&](const auto& content) { json["content"] = content; }, *payload.content);
}

}  // namespace pickline
