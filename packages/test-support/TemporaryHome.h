#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "test-support/ChildProcess.h"

namespace testsupport {

// A private home folder for one test: the tools' data, state and log folders all
// point inside it, so a test never touches the real home folder. Removed on destruction.
class TemporaryHome {
public:
    TemporaryHome() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessaryn-home-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
    }
    ~TemporaryHome() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    TemporaryHome(const TemporaryHome&) = delete;
    TemporaryHome& operator=(const TemporaryHome&) = delete;

    const std::filesystem::path& path() const { return root_; }
    std::filesystem::path dataHome() const { return root_ / "data"; }
    std::filesystem::path stateHome() const { return root_ / "state"; }

    // HOME and the XDG folders set to this home; the tools' log variables removed.
    Environment environment() const {
        return {{"HOME", root_.string()},
                {"XDG_DATA_HOME", dataHome().string()},
                {"XDG_STATE_HOME", stateHome().string()},
                {"XDG_CONFIG_HOME", (root_ / "config").string()},
                {"XDG_CACHE_HOME", (root_ / "cache").string()},
                {"SPEECH_CLI_LOG_PATH", std::nullopt},
                {"AUDIO_MUTE_CLI_LOG_PATH", std::nullopt},
                {"AUDIO_DEVICE_CLI_LOG_PATH", std::nullopt}};
    }

private:
    std::filesystem::path root_;
};

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

inline void writeFile(const std::filesystem::path& path, const std::string& contents) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

}  // namespace testsupport
