#pragma once

#include "cli-frame/Commands/CLIExecutableCommand.h"
#include "cli-frame/Options/CommandArguments.h"
#include "harkline/Assets/SpeechAssetManager.h"
#include "harkline/Commands/AssetCommandTarget.h"
#include "harkline/Commands/CommandContext.h"

namespace harkline {

// Reports whether a locale's speech model is installed: one status line, also recorded
// in the diagnostics. A missing model is the code "apple_assets_missing", not an error.
class AssetsStatusCommand : public cli::CLIExecutableCommand {
public:
    // Throws CLIError assetsLocaleInvalid for an empty --locale.
    AssetsStatusCommand(CommandContext context, const cli::CommandArguments& arguments);
    int run() override;

private:
    CommandContext context_;
    AssetCommandTarget target_;
    SpeechAssetManager manager_;
};

}  // namespace harkline
