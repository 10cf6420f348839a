#include "harkline/Commands/AssetsStatusCommand.h"

#include "harkline/Commands/AssetPayloads.h"

namespace harkline {

AssetsStatusCommand::AssetsStatusCommand(CommandContext context, const cli::CommandArguments& arguments)
    : context_(std::move(context)),
      target_(AssetCommandTarget::fromArguments(arguments, *context_.system)),
      manager_(context_.logger, context_.models) {}

int AssetsStatusCommand::run() {
    context_.logger.info("执行 assets.status locale=" + target_.locale);
    auto summary = manager_.status(target_.locale);
    context_.diagnostics->updateAssets(
        {target_.locale, summary.status, summary.installed, summary.formattingModel, summary.formattingProblem});
    context_.emitter.emitStatus({
        .stage = summary.status,
        .code = summary.installed ? std::nullopt : std::optional<std::string>("apple_assets_missing"),
        .data = AssetsStatusPayload{target_.locale, summary.status, summary.installed, summary.formattingModel,
                                    summary.formattingProblem},
    });
    return 0;
}

}  // namespace harkline
