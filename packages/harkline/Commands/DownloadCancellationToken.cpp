#include "harkline/Commands/DownloadCancellationToken.h"

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

bool DownloadCancellationToken::isRequested() const {
    std::error_code error;
    return std::filesystem::exists(fileURL_, error);
}

void DownloadCancellationToken::requestCancel() const noexcept {
    try {
        cli::writeFileAtomically(fileURL_, utcTimestampNow());
    } catch (const std::exception&) {
        // Without a marker the download runs on; the cancel command still answers.
    }
}

void DownloadCancellationToken::clear() const noexcept {
    std::error_code ignored;
    std::filesystem::remove(fileURL_, ignored);
}

}  // namespace harkline
