#pragma once

#include <optional>
#include <string>

#include "cli-frame/Json/Json.h"

namespace harkline {

// The data of the `assets.status` line and of the line that ends a download.
struct AssetsStatusPayload {
    std::string locale;
    std::string status;
    bool installed = false;
    std::optional<std::string> formattingModel;  // see AssetStatusSummary
    std::optional<std::string> formattingProblem;
};

// The data of the progress and cancel lines of `assets.download` and `assets.cancel`.
struct DownloadStatusPayload {
    std::string locale;
    double progress = 0;
};

void to_json(cli::Json& json, const AssetsStatusPayload& payload);
void to_json(cli::Json& json, const DownloadStatusPayload& payload);

}  // namespace harkline
