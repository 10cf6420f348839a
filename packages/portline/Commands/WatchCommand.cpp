#include "portline/Commands/WatchCommand.h"

#include "portline/Audio/AudioDeviceMonitor.h"
#include "portline/Runtime/StopSignals.h"

namespace portline {
namespace {

struct EventPayload {
    std::string event;
    cli::AnyEncodable data;
};

void to_json(cli::Json& json, const EventPayload& payload) {
    json = cli::Json::object();
    json["event"] = payload.event;
    json["data"] = payload.data.encode();
}

}  // namespace

int watchDevices(const CommandContext& context) {
    context.logger.info("执行 watch 命令");
    // main has blocked them already; this covers a watch started elsewhere, before the
    // monitor's threads start.
    blockStopSignals();
    AudioDeviceMonitor monitor(*context.audioHardware, context.logger);
    const cli::CLIMessageEmitter& emitter = context.emitter;
    monitor.startMonitoring([&emitter](const AudioDeviceEvent& event) {
        std::visit(
            [&](const auto& data) { emitter.emit(cli::CLIMessage::event(EventPayload{eventName(event), data})); },
            event);
    });
    emitter.emitStatus({.stage = "ready", .message = "监听已启动"});

    const bool readerGone = waitForStopSignalOrGoneReader(emitter.outputFd()) == 0;
    if (readerGone) context.logger.error("标准输出已无读取方，停止监听");

    monitor.stopMonitoring();
    emitter.emitStatus({.stage = "stopped", .message = "监听已停止"});
    return readerGone ? 1 : 0;
}

}  // namespace portline
