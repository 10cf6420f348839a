#include <memory>

#include "audio-hardware/SystemAudioHardware.h"
#include "cli-frame/Runtime/ToolStartup.h"
#include "hushline/Audio/AudioController.h"
#include "hushline/Audio/StateStore.h"
#include "hushline/Commands/CommandRouter.h"
#include "hushline/Runtime/HushlineTool.h"

int main(int argc, char** argv) {
    using namespace hushline;
    auto startup = cli::ToolStartup::begin(hushlineTool(), argc, argv);
    auto stateStore =
        std::make_shared<StateStore>(startup.paths.applicationSupportDirectory() / "state.json", startup.logger);
    AudioController audioController(audiohw::makeSystemAudioHardware("hushline"), startup.logger);
    const CommandContext context{startup.emitter, startup.logger, stateStore, audioController};
    return cli::exitStatus(runCommand(context, startup.options.commandName));
}
