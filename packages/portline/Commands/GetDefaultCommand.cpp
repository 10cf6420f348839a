#include "portline/Commands/GetDefaultCommand.h"

#include "portline/Audio/AudioDeviceManager.h"

namespace portline {

void to_json(cli::Json& json, const GetDefaultResult& result) {
    json = cli::Json::object();
    json["device"] = result.device;
}

int GetDefaultCommand::run() {
    context_.logger.info("执行 get-default 命令");
    try {
        const AudioDeviceManager manager(*context_.audioHardware, context_.logger);
        context_.emitter.emit(cli::CLIMessage::result(GetDefaultResult{manager.getDefaultInputDevice()}));
        return 0;
    } catch (const std::exception& failure) {
        context_.emitter.emitFailure(failure, "NO_DEFAULT_DEVICE");
        return 1;
    }
}

}  // namespace portline
