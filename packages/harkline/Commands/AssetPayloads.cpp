#include "harkline/Commands/AssetPayloads.h"

namespace harkline {

void to_json(cli::Json& json, const AssetsStatusPayload& payload) {
    json = cli::Json::object();
    json["locale"] = payload.locale;
    json["status"] = payload.status;
    json["installed"] = payload.installed;
    if (payload.formattingModel) json["formattingModel"] = *payload.formattingModel;
    if (payload.formattingProblem) json["formattingProblem"] = *payload.formattingProblem;
}

void to_json(cli::Json& json, const DownloadStatusPayload& payload) {
    json = cli::Json::object();
    json["locale"] = payload.locale;
    json["progress"] = payload.progress;
}

}  // namespace harkline
