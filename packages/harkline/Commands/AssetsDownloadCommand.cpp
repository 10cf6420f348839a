#include "harkline/Commands/AssetsDownloadCommand.h"

#include <cmath>

#include "harkline/Commands/AssetPayloads.h"
#include "harkline/Assets/DownloadProgressStore.h"
#include "harkline/Runtime/CLIError.h"

namespace harkline {

AssetsDownloadCommand::AssetsDownloadCommand(CommandContext context, const cli::CommandArguments& arguments,
                                             DownloadCancellationToken cancellationToken)
    : context_(std::move(context)),
      target_(AssetCommandTarget::fromArguments(arguments, *context_.system)),
      manager_(context_.logger, context_.models),
      cancellationToken_(std::move(cancellationToken)) {}

int AssetsDownloadCommand::run() {
    const auto& locale = target_.locale;
    context_.logger.info("执行 assets.download locale=" + locale);
    cancellationToken_.clear();
    DownloadProgressStore progressStore;
    progressStore.update(0);
    // The start line goes out first, then the diagnostics record the download.
    writeProgressLine(0);
    recordProgress(0);

    try {
        auto summary = manager_.downloadAssets(locale, cancellationToken_, [&](double fraction) {
            double value = std::isfinite(fraction) ? fraction : 0;
            progressStore.update(value);
            recordProgress(value);
            writeProgressLine(value);
        });
        context_.diagnostics->updateDownload(std::nullopt);
        context_.diagnostics->updateAssets(
            {locale, summary.status, summary.installed, summary.formattingModel, summary.formattingProblem});
        context_.emitter.emitStatus({
            .stage = summary.status,
            .data = AssetsStatusPayload{locale, summary.status, summary.installed, summary.formattingModel,
                                        summary.formattingProblem},
        });
    } catch (const CLIError& failure) {
        context_.diagnostics->updateDownload(std::nullopt);
        if (failure.errorCase() != CLIError::Case::downloadCancelled) {
            context_.emitter.emitFailure(failure, "apple_download_failed");
            return 0;
        }
        context_.emitter.emitStatus({
            .stage = "download-cancelled",
            .code = failure.errorCode(),
            .data = DownloadStatusPayload{locale, progressStore.current()},
        });
    } catch (const std::exception& failure) {
        context_.diagnostics->updateDownload(std::nullopt);
        context_.emitter.emitFailure(failure, "apple_download_failed");
    }
    return 0;
}

void AssetsDownloadCommand::recordProgress(double progress) const {
    context_.diagnostics->updateDownload(DownloadSnapshot{target_.locale, progress, "downloading", secondsSinceReferenceDate()});
}

void AssetsDownloadCommand::writeProgressLine(double progress) const {
    context_.emitter.emitStatus({
        .stage = "downloading-assets",
        .data = DownloadStatusPayload{target_.locale, progress},
    });
}

}  // namespace harkline
