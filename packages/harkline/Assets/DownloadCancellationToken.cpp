#include "harkline/Assets/DownloadCancellationToken.h"

#include <ctime>
#include <system_error>

#include "cli-frame/Files/AtomicFile.h"

namespace harkline {
namespace {

std::string utcTimestampNow() {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    if (!::gmtime_r(&now, &parts)) return {};
    char text[32];
    auto length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return std::string(text, length);
}

}  // namespace

DownloadCancellationToken::Marker DownloadCancellationToken::marker() const {
    std::error_code error;
    auto status = std::filesystem::symlink_status(fileURL_, error);
    if (error || !std::filesystem::exists(status)) return Marker::absent;
    return std::filesystem::is_regular_file(status) ? Marker::present : Marker::notAFile;
}

std::optional<std::string> DownloadCancellationToken::requestCancel() const noexcept {
    try {
        cli::writeFileAtomically(fileURL_, utcTimestampNow());
        return std::nullopt;
    } catch (const std::exception& failure) {
        return std::string(failure.what());
    } catch (...) {
        return std::string("unknown failure");
    }
}

void DownloadCancellationToken::clear() const noexcept {
    std::error_code ignored;
    std::filesystem::remove(fileURL_, ignored);
}

}  // namespace harkline
