#include "test-support/TemporaryHome.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

TemporaryHome::TemporaryHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tessaryn-home-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
}

TemporaryHome::~TemporaryHome() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

Environment TemporaryHome::environment() const {
    return {
        {"HOME", root_.string()},
        {"XDG_DATA_HOME", dataHome().string()},
        {"XDG_STATE_HOME", stateHome().string()},
        {"XDG_CONFIG_HOME", (root_ / "config").string()},
        {"XDG_CACHE_HOME", (root_ / "cache").string()},
        {"SPEECH_CLI_LOG_PATH", std::nullopt},
        {"AUDIO_MUTE_CLI_LOG_PATH", std::nullopt},
        {"AUDIO_DEVICE_CLI_LOG_PATH", std::nullopt},
    };
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

void writeFile(const std::filesystem::path& path, const std::string& contents) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream << contents;
}

}  // namespace testsupport
