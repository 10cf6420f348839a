#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Diagnostics/DiagnosticsSnapshot.h"

namespace harkline {

// Keeps diagnostics.json. Updates from any thread are applied and written one at a
// time, each write holding every earlier update. The file is replaced atomically.
class DiagnosticsStore {
public:
    // Loads the file; a missing, unreadable, oversized or undecodable one is ignored silently.
    DiagnosticsStore(std::filesystem::path fileURL, cli::Logger logger);

    void updateEnv(EnvSnapshot env);
    void updateAssets(AssetsSnapshot assets);
    void updateDownload(std::optional<DownloadSnapshot> download);
    void updateLogPath(std::optional<std::string> logPath);

    DiagnosticsSnapshot currentSnapshot() const;
    const std::filesystem::path& fileURL() const { return fileURL_; }

    static constexpr std::uintmax_t largestReadableFile = 1 << 20;

private:
    template <typename Change>
    void update(Change change);
    void persist();

    mutable std::mutex mutex_;
    DiagnosticsSnapshot snapshot_;
    std::optional<std::string> persistedBytes_;  // what the file is known to hold
    std::filesystem::path fileURL_;
    cli::Logger logger_;
};

}  // namespace harkline
