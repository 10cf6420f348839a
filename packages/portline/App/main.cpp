#include <memory>

#include "audio-hardware/SystemAudioHardware.h"
#include "cli-frame/Runtime/ToolStartup.h"
#include "portline/Commands/CommandRouter.h"
#include "portline/Runtime/PortlineTool.h"
#include "portline/Runtime/StopSignals.h"

int main(int argc, char** argv) {
    using namespace portline;
    // Before the logger's thread starts, so that no thread but the watch's wait takes them.
    blockStopSignals();
    auto startup = cli::ToolStartup::begin(portlineTool(), argc, argv);
    if (startup.options.commandName != "watch") unblockStopSignals();
    std::shared_ptr<audiohw::AudioHardware> hardware = audiohw::makeSystemAudioHardware("portline");
    const CommandContext context{startup.emitter, startup.logger, std::move(hardware)};
    return cli::exitStatus(runCommand(context, startup.options.commandName, startup.options.arguments));
}
