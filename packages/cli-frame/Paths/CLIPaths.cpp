#include "cli-frame/Paths/CLIPaths.h"

#include <cstdlib>
#include <system_error>

#include "cli-frame/Platform/UserDirectories.h"

namespace cli {
namespace {

std::filesystem::path created(std::filesystem::path directory) {
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);
    return directory;
}

}  // namespace

std::optional<std::string> CLIPaths::resolveLogPath(const std::optional<std::string>& explicitPath) const {
    if (explicitPath && !explicitPath->empty()) return explicitPath;
    if (const char* value = std::getenv(tool_.logEnvironmentVariable.c_str()); value != nullptr && *value != '\0')
        return std::string(value);
    if (tool_.defaultLogFileName) return (logsDirectory() / *tool_.defaultLogFileName).string();
    return std::nullopt;
}

std::filesystem::path CLIPaths::applicationSupportDirectory() const {
    return created(UserDirectories::applicationSupport() / tool_.applicationSupportFolder.value_or(tool_.name));
}

std::filesystem::path CLIPaths::logsDirectory() { return created(UserDirectories::logs() / "tessaryn"); }

}  // namespace cli
