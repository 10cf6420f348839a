#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "cli-frame/Runtime/ToolDescription.h"

namespace cli {

// The tool's folders and the choice of its log file.
class CLIPaths {
public:
    explicit CLIPaths(ToolDescription tool) : tool_(std::move(tool)) {}

    // The explicit path if not empty, else the tool's environment variable if not empty,
    // else the default log file (its folder created), if the tool has one.
    std::optional<std::string> resolveLogPath(const std::optional<std::string>& explicitPath) const;

    // Both created on the way (failures ignored: later file operations report them).
    std::filesystem::path applicationSupportDirectory() const;
    static std::filesystem::path logsDirectory();

private:
    ToolDescription tool_;
};

}  // namespace cli
