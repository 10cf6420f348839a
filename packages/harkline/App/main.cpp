#include <memory>

#include "cli-frame/Runtime/ToolStartup.h"
#include "harkline/Commands/CommandRouter.h"
#include "harkline/Diagnostics/DiagnosticsStore.h"
#include "harkline/Platform/Speech/PocketSphinx/PocketSphinxModelSources.h"
#include "harkline/Platform/Speech/PocketSphinx/PocketSphinxSpeechPlatform.h"
#include "harkline/Runtime/HarklineTool.h"

int main(int argc, char** argv) {
    using namespace harkline;
    auto startup = cli::ToolStartup::begin(harklineTool(), argc, argv);
    // Every start records where this invocation logs, whatever the command.
    auto diagnostics = std::make_shared<DiagnosticsStore>(
        startup.paths.applicationSupportDirectory() / "diagnostics.json", startup.logger);
    diagnostics->updateLogPath(startup.logPath);
    auto speech = std::make_shared<PocketSphinxSpeechPlatform>(
        SpeechModelStore::inApplicationSupport(startup.paths.applicationSupportDirectory()), pocketSphinxModelSources());
    CommandRouter router(CommandContext{startup.emitter, startup.logger, diagnostics, startup.logPath, speech});
    router.run(startup.options.commandName, startup.options.arguments);
    return 0;
}
