#include "portline/Commands/SetDefaultCommand.h"

#include <optional>
#include <string_view>

#include "portline/Audio/AudioDeviceManager.h"
#include "portline/Runtime/CLIError.h"

namespace portline {
namespace {

std::optional<std::string> lastUID(const std::vector<std::string>& arguments) {
    constexpr std::string_view option = "--uid";
    std::optional<std::string> uid;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (argument == option) {
            if (index + 1 < arguments.size()) uid = arguments[++index];
        } else if (argument.starts_with("--uid=")) {
            uid = argument.substr(option.size() + 1);
        }
    }
    return uid;
}

}  // namespace

SetDefaultCommand::SetDefaultCommand(CommandContext context, const std::vector<std::string>& arguments)
    : context_(std::move(context)) {
    std::optional<std::string> uid = lastUID(arguments);
    if (!uid || uid->empty()) throw CLIError::invalidArgument("缺少 --uid 参数");
    uid_ = std::move(*uid);
}

int SetDefaultCommand::run() {
    context_.logger.info("执行 set-default 命令, uid=" + uid_);
    try {
        const AudioDeviceManager manager(*context_.audioHardware, context_.logger);
        context_.emitter.emit(cli::CLIMessage::result(manager.setDefaultInputDevice(uid_)));
        return 0;
    } catch (const std::exception& failure) {
        context_.emitter.emitFailure(failure, "SET_DEFAULT_FAILED");
        return 1;
    }
}

}  // namespace portline
