#include "portline/Commands/ListCommand.h"

#include "portline/Audio/AudioDeviceManager.h"

namespace portline {

void to_json(cli::Json& json, const ListResult& result) {
    json = cli::Json::object();
    json["devices"] = result.devices;
}

int ListCommand::run() {
    context_.logger.info("执行 list 命令");
    try {
        const AudioDeviceManager manager(*context_.audioHardware, context_.logger);
        context_.emitter.emit(cli::CLIMessage::result(ListResult{manager.getAllInputDevices()}));
        return 0;
    } catch (const std::exception& failure) {
        context_.emitter.emitFailure(failure, "ENUM_FAILED");
        return 1;
    }
}

}  // namespace portline
