#include <memory>

#include "audio-hardware/SystemAudioHardware.h"
#include "cli-frame/Runtime/ToolStartup.h"
#include "portline/Commands/CommandRouter.h"
#include "portline/Runtime/PortlineTool.h"

int main(int argc, char** argv) {
    using namespace portline;
    auto startup = cli::ToolStartup::begin(portlineTool(), argc, argv);
    std::shared_ptr<audiohw::AudioHardware> hardware = audiohw::makeSystemAudioHardware("portline");
    CommandRouter router(CommandContext{startup.emitter, startup.logger, startup.logPath, std::move(hardware)});
    router.run(startup.options.commandName, startup.options.arguments);
    return cli::exitStatus(0);
}
