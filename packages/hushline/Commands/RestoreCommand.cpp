#include "hushline/Commands/RestoreCommand.h"

#include "hushline/Commands/DeviceData.h"

namespace hushline {
namespace {

// The "restored" line's data, and the details of a failed restore.
cli::Json restoreData(const RestoreOutcome& outcome) {
    cli::Json data = deviceData(outcome.deviceID, outcome.deviceName);
    data["usedSnapshot"] = outcome.usedSnapshot;
    data["fallbackApplied"] = outcome.fallbackApplied;
    return data;
}

}  // namespace

int RestoreCommand::run() {
    context_.logger.info("执行 restore 指令");
    StateStore& store = *context_.stateStore;
    const auto lock = store.lockAndReload();
    if (!lock) {
        const CLIError error(CLIError::Case::restoreFailed);
        context_.emitter.emitError(error.errorCode(), error.message(), restoreData(RestoreOutcome{}));
        return 0;
    }

    const RestoreOutcome outcome = context_.audioController.restore(store.load());
    if (outcome.error == CLIError::Case::deviceUnavailable && outcome.usedSnapshot) {
        // Nothing reached a device (no server, no output): the record is all that is left.
        context_.logger.info("未能恢复到任何输出设备，保留静音快照");
    } else {
        store.clear();
    }

    cli::Json data = restoreData(outcome);
    if (outcome.error) {
        const CLIError error(*outcome.error);
        context_.emitter.emitError(error.errorCode(), error.message(), std::move(data));
        return 0;
    }
    context_.emitter.emitStatus({.stage = "restored", .data = std::move(data)});
    return 0;
}

}  // namespace hushline
