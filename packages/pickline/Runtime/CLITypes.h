#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli-frame/Json/Json.h"
#include "pickline/FileReader/FileContentReader.h"

namespace pickline {

// What is selected: the text itself, or the selected files in selection order.
using SelectionContent = std::variant<std::string, std::vector<FileInfo>>;

struct SelectionPayload {
    std::string selectionType;  // "files", "text" or "none"
    std::optional<SelectionContent> content;  // written as null when absent
};

void to_json(cli::Json& json, const FileInfo& info);
void to_json(cli::Json& json, const SelectionPayload& payload);

}  // namespace pickline
