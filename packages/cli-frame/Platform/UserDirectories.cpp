#include "cli-frame/Platform/UserDirectories.h"

#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

namespace cli {
namespace {

std::filesystem::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
    return std::filesystem::current_path();
}

// XDG base directories: an absolute value of the variable wins, otherwise the default
// below the home folder.
std::filesystem::path xdgDirectory(const char* variable, const char* fallbackBelowHome) {
    if (const char* value = std::getenv(variable); value != nullptr && value[0] == '/') return value;
    return homeDirectory() / fallbackBelowHome;
}

}  // namespace

std::filesystem::path UserDirectories::applicationSupport() { return xdgDirectory("XDG_DATA_HOME", ".local/share"); }

std::filesystem::path UserDirectories::configuration() { return xdgDirectory("XDG_CONFIG_HOME", ".config"); }

std::filesystem::path UserDirectories::logs() { return xdgDirectory("XDG_STATE_HOME", ".local/state"); }

}  // namespace cli
