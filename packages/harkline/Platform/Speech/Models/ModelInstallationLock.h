#pragma once

#include <filesystem>
#include <optional>

namespace harkline {

// One installation per locale at a time, across processes: an advisory lock on a hidden
// file beside the locale's folder. The kernel drops it when its holder ends, however it
// ends, so a killed installation never leaves the locale looking busy.
class ModelInstallationLock {
public:
    // "<models>/.<locale>.lock"
    static std::filesystem::path path(const std::filesystem::path& modelsDirectory, const std::string& locale);

    // Takes the lock without waiting; none when another installation holds it. Throws
    // std::system_error when the lock file cannot be created or locked.
    static std::optional<ModelInstallationLock> tryAcquire(const std::filesystem::path& lockFile);
    // Whether some installation holds the lock now. Creates nothing.
    static bool isHeld(const std::filesystem::path& lockFile);

    ModelInstallationLock(ModelInstallationLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    ModelInstallationLock& operator=(ModelInstallationLock&&) = delete;
    ModelInstallationLock(const ModelInstallationLock&) = delete;
    ~ModelInstallationLock();

private:
    explicit ModelInstallationLock(int fd) : fd_(fd) {}

    int fd_;
};

}  // namespace harkline
