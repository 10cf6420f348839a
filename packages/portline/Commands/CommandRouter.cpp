#include "portline/Commands/CommandRouter.h"

#include <array>
#include <string_view>
#include <utility>

#include "portline/Audio/AudioDeviceManager.h"
#include "portline/Commands/WatchCommand.h"
#include "portline/Runtime/CLIError.h"

namespace portline {
namespace {

using Arguments = std::vector<std::string>;

// Writes what `read` gets from the device manager as the result line, or the failure as
// the error line, with `failureCode` for a failure that has no code of its own.
template <typename Read>
int answer(const CommandContext& context, const char* failureCode, Read read) {
    try {
        const AudioDeviceManager manager(*context.audioHardware, context.logger);
        context.emitter.emit(cli::CLIMessage::result(read(manager)));
        return 0;
    } catch (const std::exception& failure) {
        context.emitter.emitFailure(failure, failureCode);
        return 1;
    }
}

// Every input device, the default marked.
int listDevices(const CommandContext& context, const Arguments& /*arguments*/) {
    context.logger.info("执行 list 命令");
    return answer(context, "ENUM_FAILED", [](const AudioDeviceManager& manager) {
        cli::Json result = cli::Json::object();
        result["devices"] = manager.getAllInputDevices();
        return result;
    });
}

int getDefaultDevice(const CommandContext& context, const Arguments& /*arguments*/) {
    context.logger.info("执行 get-default 命令");
    return answer(context, "NO_DEFAULT_DEVICE", [](const AudioDeviceManager& manager) {
        cli::Json result = cli::Json::object();
        result["device"] = manager.getDefaultInputDevice();
        return result;
    });
}

// The last "--uid VALUE" or "--uid=VALUE" of the arguments.
std::optional<std::string> lastUID(const Arguments& arguments) {
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

int setDefaultDevice(const CommandContext& context, const Arguments& arguments) {
    const std::optional<std::string> uid = lastUID(arguments);
    if (!uid || uid->empty()) {
        context.emitter.emitFailure(CLIError::invalidArgument("缺少 --uid 参数"), "INTERNAL_ERROR");
        return 1;
    }
    context.logger.info("执行 set-default 命令, uid=" + *uid);
    return answer(context, "SET_DEFAULT_FAILED",
                  [&](const AudioDeviceManager& manager) { return manager.setDefaultInputDevice(*uid); });
}

int watch(const CommandContext& context, const Arguments& /*arguments*/) { return watchDevices(context); }

using Command = int (*)(const CommandContext&, const Arguments&);
constexpr std::array<std::pair<std::string_view, Command>, 4> commands{{
    {"list", listDevices},
    {"get-default", getDefaultDevice},
    {"set-default", setDefaultDevice},
    {"watch", watch},
}};

}  // namespace

int runCommand(const CommandContext& context, const std::optional<std::string>& commandName, const Arguments& arguments) {
    for (const auto& [word, command] : commands) {
        if (commandName == word) return command(context, arguments);
    }
    context.emitter.emitFailure(CLIError(CLIError::Case::commandMissing), "INTERNAL_ERROR");
    return 1;
}

}  // namespace portline
