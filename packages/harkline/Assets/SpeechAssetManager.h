#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Assets/DownloadCancellationToken.h"
#include "harkline/Platform/Speech/SpeechModels.h"

namespace harkline {

// The asset state of a locale as the host sees it.
struct AssetStatusSummary {
    std::string status;  // "assets-unsupported", "assets-available", "assets-downloading", "assets-ready", "assets-unknown"
    bool installed = false;
    // The locale's formatting model, when its model has or is offered one: "installed",
    // "missing" or "damaged", and why it is missing or damaged.
    std::optional<std::string> formattingModel;
    std::optional<std::string> formattingProblem;
    bool operator==(const AssetStatusSummary&) const = default;
};

AssetStatusSummary summarize(ModelStatus status);

// The one place that installs speech models: the asset state of a locale, and the
// installation of its model with progress reports and a cancel that works across
// processes through the cancel marker.
class SpeechAssetManager {
public:
    static constexpr std::chrono::milliseconds progressInterval{500};

    // Called with the fraction done (0 to 1, as the installation gives it) about every
    // `progressInterval`, on the installing thread (the caller's). Must not throw.
    using ProgressHandler = std::function<void(double)>;

    SpeechAssetManager(cli::Logger logger, std::shared_ptr<const SpeechModels> models)
        : logger_(std::move(logger)), models_(std::move(models)) {}

    // Never fails.
    AssetStatusSummary status(const std::string& locale) const;

    // Installs the assets and returns the state afterwards. Throws CLIError
    // downloadCancelled when the marker was seen during the installation (even one that
    // then completed), or the platform's own failure unchanged. Every progress report has
    // returned before this does; a completed installation ends with a report of exactly 1.
    AssetStatusSummary downloadAssets(const std::string& locale, const DownloadCancellationToken& cancellationToken,
                                      const ProgressHandler& progressHandler) const;

private:
    cli::Logger logger_;
    std::shared_ptr<const SpeechModels> models_;
};

}  // namespace harkline
