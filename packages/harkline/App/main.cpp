#include <memory>
#include <vector>

#include "cli-frame/Runtime/ToolStartup.h"
#include "harkline/Commands/CommandRouter.h"
#include "harkline/Diagnostics/DiagnosticsStore.h"
#include "harkline/Platform/Speech/PocketSphinx/PocketSphinxAssetInventory.h"
#include "harkline/Platform/Speech/PocketSphinx/PocketSphinxSpeechPlatform.h"
#include "harkline/Platform/Speech/PocketSphinx/SpeechModelSourceFolder.h"
#include "harkline/Platform/System/Linux/LinuxSystemInfo.h"
#include "harkline/Runtime/HarklineTool.h"

int main(int argc, char** argv) {
    using namespace harkline;
    auto startup = cli::ToolStartup::begin(harklineTool(), argc, argv);
    // Every start records where this invocation logs, whatever the command.
    auto diagnostics = std::make_shared<DiagnosticsStore>(
        startup.paths.applicationSupportDirectory() / "diagnostics.json", startup.logger);
    diagnostics->updateLogPath(startup.logPath);

    auto store = SpeechModelStore::inApplicationSupport(startup.paths.applicationSupportDirectory());
    auto installableSources = installableSpeechModelSources(startup.logger);
    std::vector<SpeechModelSource> sources;
    for (const auto& installable : installableSources) sources.push_back(installable.source);
    auto speech = std::make_shared<PocketSphinxSpeechPlatform>(store, std::move(sources));
    auto speechAssets = std::make_shared<PocketSphinxAssetInventory>(store, std::move(installableSources));
    auto system = std::make_shared<LinuxSystemInfo>([speech] { return speech->isTranscriberAvailable(); });

    CommandRouter router(
        CommandContext{startup.emitter, startup.logger, diagnostics, startup.logPath, speech, speechAssets, system});
    router.run(startup.options.commandName, startup.options.arguments);
    return cli::exitStatus(0);
}
