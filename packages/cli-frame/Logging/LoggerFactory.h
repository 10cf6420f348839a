#pragma once

#include <optional>
#include <string>

#include "cli-frame/Logging/Logger.h"

namespace cli {

struct LoggerFactory {
    // A file logger when `explicitPath` names a file that can be opened; otherwise the
    // logger that discards everything.
    static Logger makeLogger(const std::optional<std::string>& explicitPath, const std::string& toolName);
};

}  // namespace cli
