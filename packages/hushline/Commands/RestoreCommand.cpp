#include "hushline/Commands/RestoreCommand.h"

#include "hushline/Runtime/CLITypes.h"

namespace hushline {

void to_json(cli::Json& json, const RestorePayload& value) {
    json = cli::Json::object();
    json["deviceId"] = value.deviceId;
    if (value.deviceName) json["deviceName"] = *value.deviceName;
    json["usedSnapshot"] = value.usedSnapshot;
    json["fallbackApplied"] = value.fallbackApplied;
}

int RestoreCommand::run() {
    context_.logger.info("执行 restore 指令");
    StateStore& store = *context_.stateStore;
    const auto lock = store.lockAndReload();
    if (!lock) {
        const CLIError error(CLIError::Case::restoreFailed);
        context_.emitter.emitError(error.errorCode(), error.message(), RestorePayload{});
        return 0;
    }

    const RestoreOutcome outcome = context_.audioController.restore(store.load());
    if (outcome.error == CLIError::Case::deviceUnavailable && outcome.usedSnapshot) {
        // Nothing reached a device (no server, no output): the record is all that is left.
        context_.logger.info("未能恢复到任何输出设备，保留静音快照");
    } else {
        store.clear();
    }

    RestorePayload payload{outcome.deviceID, outcome.deviceName, outcome.usedSnapshot, outcome.fallbackApplied};
    if (outcome.error) {
        const CLIError error(*outcome.error);
        context_.emitter.emitError(error.errorCode(), error.message(), payload);
        return 0;
    }
    context_.emitter.emit(cli::CLIMessage::status(StatusPayload{
        .stage = "restored",
        .logPath = context_.emitter.logPath(),
        .data = payload,
    }));
    return 0;
}

}  // namespace hushline
