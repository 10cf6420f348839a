#include "harkline/Assets/SpeechAssetManager.h"

#include <exception>

#include "harkline/Assets/DownloadCancellationState.h"
#include "harkline/Runtime/CLIError.h"

namespace harkline {

AssetStatusSummary summarize(ModelStatus status) {
    switch (status) {
        case ModelStatus::unsupported: return {"assets-unsupported", false};
        case ModelStatus::available: return {"assets-available", false};
        case ModelStatus::installing: return {"assets-downloading", false};
        case ModelStatus::installed: return {"assets-ready", true};
    }
    return {"assets-unknown", false};
}

AssetStatusSummary SpeechAssetManager::status(const std::string& locale) const {
    auto summary = summarize(models_->status(locale));
    if (auto formatting = models_->formattingModel(locale);
        formatting.presence != FormattingModelState::Presence::none) {
        summary.formattingModel = formatting.word();
        summary.formattingProblem = formatting.problem;
    }
    return summary;
}

AssetStatusSummary SpeechAssetManager::downloadAssets(const std::string& locale,
                                                      const DownloadCancellationToken& cancellationToken,
                                                           const ProgressHandler& progressHandler) const {
    auto request = models_->installation(locale);
    if (!request) {
        logger_.info("AssetInventory 返回空请求，可能已安装 locale=" + locale);
        return status(locale);
    }

    // A marker left by an earlier cancel must not stop this installation.
    cancellationToken.clear();
    DownloadCancellationState cancellation(cancellationToken, logger_);
    // The installation serves both on its own thread: the watcher's looks at the marker
    // and the progress reports, each of which has returned before the next starts.
    InstallationWatch watch{
        .cancelMarker = cancellationToken.fileURL(),
        .cancelRequested = [&] { return cancellation.lookForCancellation(); },
        .report = progressHandler,
        .reportInterval = progressInterval,
    };
    std::exception_ptr failure;
    try {
        request->downloadAndInstall(watch);
    } catch (...) {
        failure = std::current_exception();
    }

    if (!failure) progressHandler(1.0);
    if (cancellation.isCancelled()) throw CLIError(CLIError::Case::downloadCancelled);
    if (failure) std::rethrow_exception(failure);
    return status(locale);
}

}  // namespace harkline
