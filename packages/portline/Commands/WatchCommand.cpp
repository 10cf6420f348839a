#include "portline/Commands/WatchCommand.h"

#include "portline/Audio/AudioDeviceMonitor.h"
#include "portline/Runtime/CLITypes.h"
#include "portline/Runtime/StopSignals.h"

namespace portline {

int WatchCommand::run() {
    context_.logger.info("执行 watch 命令");
    return runWatchLoop();
}

int WatchCommand::runWatchLoop() const {
    // main has blocked them already; this covers a watch started elsewhere, before the
    // monitor's threads start.
    blockStopSignals();
    AudioDeviceMonitor monitor(*context_.audioHardware, context_.logger);
    const cli::CLIMessageEmitter& emitter = context_.emitter;
    monitor.startMonitoring([&emitter](const AudioDeviceEvent& event) {
        std::visit(
            [&](const auto& data) { emitter.emit(cli::CLIMessage::event(EventPayload{eventName(event), data})); },
            event);
    });
    emitter.emit(cli::CLIMessage::status(StatusPayload{.stage = "ready", .logPath = emitter.logPath(), .message = "监听已启动"}));

    const bool readerGone = waitForStopSignalOrGoneReader(emitter.outputFd()) == 0;
    if (readerGone) context_.logger.error("标准输出已无读取方，停止监听");

    monitor.stopMonitoring();
    emitter.emit(cli::CLIMessage::status(StatusPayload{.stage = "stopped", .logPath = emitter.logPath(), .message = "监听已停止"}));
    return readerGone ? 1 : 0;
}

}  // namespace portline
