#pragma once

#include "cli-frame/Commands/CLIExecutableCommand.h"
#include "harkline/Commands/CommandContext.h"
#include "harkline/Assets/DownloadCancellationToken.h"

namespace harkline {

// Asks a running `assets.download` of this user to stop by writing the cancel marker,
// and answers "download-cancelled" whether or not a download runs.
class AssetsCancelCommand : public cli::CLIExecutableCommand {
public:
    AssetsCancelCommand(CommandContext context, DownloadCancellationToken token)
        : context_(std::move(context)), token_(std::move(token)) {}
    int run() override;

private:
    CommandContext context_;
    DownloadCancellationToken token_;
};

}  // namespace harkline
