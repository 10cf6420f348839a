#pragma once

#include <optional>
#include <set>
#include <string>

namespace cli {

// What the frame needs to know about one tool.
struct ToolDescription {
    std::string name;                                     // in the logger's own messages
    std::string logEnvironmentVariable;                   // log path when no --log-file is given
    std::optional<std::string> defaultLogFileName;        // in the Logs folder; none: no default log
    std::optional<std::string> applicationSupportFolder;  // relative to the user's data folder
    std::optional<std::set<std::string>> commandWords;    // none: any first argument is the word
};

}  // namespace cli
