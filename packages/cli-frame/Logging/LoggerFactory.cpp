#include "cli-frame/Logging/LoggerFactory.h"

#include "cli-frame/Logging/FileLoggerWriter.h"

namespace cli {

Logger LoggerFactory::makeLogger(const std::optional<std::string>& explicitPath, const std::string& toolName) {
    if (!explicitPath || explicitPath->empty()) return Logger();
    auto writer = FileLoggerWriter::open(*explicitPath, toolName);
    if (!writer) return Logger();
    return Logger([writer](LogLevel level, std::string_view message) { writer->log(level, message); },
                  [writer]() -> std::optional<std::string> { return writer->path(); });
}

}  // namespace cli
