#include "cli-frame/Runtime/ToolStartup.h"

#include "cli-frame/Logging/LoggerFactory.h"
#include "cli-frame/Runtime/StandardStreams.h"

namespace cli {

ToolStartup ToolStartup::begin(const ToolDescription& tool, int argc, char** argv) {
    prepareStandardStreams();
    std::vector<std::string> arguments;
    for (int index = 1; index < argc; ++index) arguments.emplace_back(argv[index]);

    CLIPaths paths(tool);
    CLIOptions options = CLIOptions::parse(arguments, tool.commandWords);
    std::optional<std::string> logPath = paths.resolveLogPath(options.explicitLogPath);
    Logger logger = LoggerFactory::makeLogger(logPath, tool.name);
    if (auto location = logger.describeLocation()) {
        logger.info("CLI 启动，日志写入 " + *location);
    } else {
        logger.info("CLI 启动，未启用文件日志");
    }
    CLIMessageEmitter emitter(logger, logPath);
    return ToolStartup{std::move(paths), std::move(options), std::move(logPath), std::move(logger), std::move(emitter)};
}

int exitStatus(int status) { return status == 0 && CLIMessageEmitter::hasLostOutput() ? 1 : status; }

}  // namespace cli
