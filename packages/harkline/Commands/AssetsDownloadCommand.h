#pragma once

#include "cli-frame/Commands/CLIExecutableCommand.h"
#include "cli-frame/Options/CommandArguments.h"
#include "harkline/Assets/SpeechAssetManager.h"
#include "harkline/Commands/AssetCommandTarget.h"
#include "harkline/Commands/CommandContext.h"
#include "harkline/Assets/DownloadCancellationToken.h"

namespace harkline {

// Installs a locale's speech model, writing a progress line about every half second and
// one closing line: the new asset state, "download-cancelled" when `assets.cancel` asked
// it to stop, or an error line. The diagnostics "download" section exists while it runs.
class AssetsDownloadCommand : public cli::CLIExecutableCommand {
public:
    // Throws CLIError assetsLocaleInvalid for an empty --locale.
    AssetsDownloadCommand(CommandContext context, const cli::CommandArguments& arguments,
                          DownloadCancellationToken cancellationToken);
    int run() override;

private:
    // The diagnostics "download" section with this fraction.
    void recordProgress(double progress) const;
    void writeProgressLine(double progress) const;

    CommandContext context_;
    AssetCommandTarget target_;
    SpeechAssetManager manager_;
    DownloadCancellationToken cancellationToken_;
};

}  // namespace harkline
