#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace cli {

// The command line split into the log-file option, the command word and the rest.
struct CLIOptions {
    std::optional<std::string> explicitLogPath;
    std::optional<std::string> commandName;
    std::vector<std::string> arguments;

    // With `commandWords`, only a first remaining argument that is one of them becomes
    // the command word; without, any first remaining argument does.
    static CLIOptions parse(const std::vector<std::string>& arguments,
                            const std::optional<std::set<std::string>>& commandWords);
};

}  // namespace cli
