#include "harkline/Assets/SpeechAssetManager.h"

#include <exception>

#include "harkline/Assets/BackgroundTask.h"
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
    return summarize(models_->status(locale));
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
    DownloadCancellationState cancellation;
    auto& progress = request->progress();
    std::exception_ptr failure;
    {
        BackgroundTask watcher([&](const StopSignal& stop) {
            cancellation.monitorForCancellation(cancellationToken, logger_, [&] { progress.cancel(); }, stop);
        });
        BackgroundTask reporter([&](const StopSignal& stop) {
            while (!stop.stopRequested()) {
                progressHandler(progress.fractionCompleted());
                if (!stop.sleepFor(progressInterval)) return;
            }
        });
        try {
            request->downloadAndInstall();
        } catch (...) {
            failure = std::current_exception();
        }
        // Wait for a report already under way, so that none lands after the closing one.
        reporter.stopAndWait();
        watcher.stopAndWait();
    }

    if (!failure) progressHandler(1.0);
    if (cancellation.isCancelled()) throw CLIError(CLIError::Case::downloadCancelled);
    if (failure) std::rethrow_exception(failure);
    return status(locale);
}

}  // namespace harkline
