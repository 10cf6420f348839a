#include "harkline/Commands/SupportLocalesCommand.h"

#include <set>


namespace harkline {
namespace {

constexpr const char* defaultLocale = "zh-CN";

}  // namespace

void to_json(cli::Json& json, const LocaleMetadata& metadata) {
    json = cli::Json::object();
    json["locale"] = metadata.locale;
    json["displayName"] = metadata.displayName;
    json["needsDownload"] = metadata.needsDownload;
    if (metadata.estimatedSizeMB) json["estimatedSizeMB"] = *metadata.estimatedSizeMB;
    if (metadata.modelVersion) json["modelVersion"] = *metadata.modelVersion;
    json["isDefault"] = metadata.isDefault;
    if (metadata.formattingModel) json["formattingModel"] = *metadata.formattingModel;
}

void to_json(cli::Json& json, const LocaleListPayload& payload) {
    json = cli::Json::object();
    json["locales"] = cli::Json::array();
    for (const auto& metadata : payload.locales) json["locales"].push_back(metadata);
}

int SupportLocalesCommand::run() {
    context_.logger.info("执行 support.locales 指令");
    auto supported = context_.models->supportedLocales();
    auto installedList = context_.models->installedLocales();
    std::set<std::string> installed(installedList.begin(), installedList.end());

    LocaleListPayload payload;
    for (const auto& identifier : supported) {
        auto formatting = context_.models->formattingModel(identifier);
        payload.locales.push_back(LocaleMetadata{
            .locale = identifier,
            .displayName = context_.system->localeSelfName(identifier).value_or(identifier),
            .needsDownload = !installed.contains(identifier),
            .isDefault = identifier == defaultLocale,
            .formattingModel = formatting.presence == FormattingModelState::Presence::none
                                   ? std::nullopt
                                   : std::optional<std::string>(formatting.word()),
        });
    }
    context_.emitter.emitStatus({
        .stage = "locales-listed",
        .data = payload,
    });
    return 0;
}

}  // namespace harkline
