#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace harkline {

// The marker file through which `assets.cancel` asks a running `assets.download` (another
// process) to stop. Its presence alone is the request; it holds the UTC instant of the
// request ("2026-01-31T08:15:00Z") for people reading the folder.
class DownloadCancellationToken {
public:
    static constexpr const char* fileName = "download.cancel";

    explicit DownloadCancellationToken(std::filesystem::path fileURL) : fileURL_(std::move(fileURL)) {}
    // The marker of harkline's Application Support folder, whatever the locale.
    static DownloadCancellationToken inFolder(const std::filesystem::path& applicationSupportDirectory) {
        return DownloadCancellationToken(applicationSupportDirectory / fileName);
    }

    const std::filesystem::path& fileURL() const { return fileURL_; }
    bool isRequested() const;

    // Writes the marker atomically. A failure (the cancel then has no effect) is returned
    // as its description for the caller to log; none when the marker was written.
    std::optional<std::string> requestCancel() const noexcept;
    // Removes the marker; a failure, a missing marker included, is ignored.
    void clear() const noexcept;

private:
    std::filesystem::path fileURL_;
};

}  // namespace harkline
