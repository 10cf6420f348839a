#pragma once

#include <filesystem>
#include <string>

#include "test-support/ChildProcess.h"

namespace testsupport {

// A private home folder for one test: the tools' data, state and log folders all
// point inside it, so a test never touches the real home folder. Removed on destruction.
class TemporaryHome {
public:
    TemporaryHome();
    ~TemporaryHome();
    TemporaryHome(const TemporaryHome&) = delete;
    TemporaryHome& operator=(const TemporaryHome&) = delete;

    const std::filesystem::path& path() const { return root_; }
    std::filesystem::path dataHome() const { return root_ / "data"; }
    std::filesystem::path stateHome() const { return root_ / "state"; }

    // HOME and the XDG folders set to this home; the tools' log variables removed.
    Environment environment() const;

private:
    std::filesystem::path root_;
};

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& contents);

}  // namespace testsupport
