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

    enum class Marker {
        absent,
        present,
        notAFile,  // something else has the marker's name: a folder, a FIFO, a link
    };

    const std::filesystem::path& fileURL() const { return fileURL_; }
    // Only a regular file is a request: markers are written as one, and nothing else in
    // its place (say, a folder that cannot be removed) may cancel every download.
    Marker marker() const;
    bool isRequested() const { return marker() == Marker::present; }

    // Writes the marker atomically. A failure (the cancel then has no effect) is returned
    // as its description for the caller to log; none when the marker was written.
    std::optional<std::string> requestCancel() const noexcept;
    // Removes the marker; a failure, a missing marker included, is ignored.
    void clear() const noexcept;

private:
    std::filesystem::path fileURL_;
};

}  // namespace harkline
