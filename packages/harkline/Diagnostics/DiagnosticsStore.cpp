#include "harkline/Diagnostics/DiagnosticsStore.h"

#include <fstream>
#include <sstream>

#include "cli-frame/Files/AtomicFile.h"
#include "cli-frame/Json/JsonWriter.h"

namespace harkline {
namespace {

std::optional<DiagnosticsSnapshot> loadSnapshot(const std::filesystem::path& path) {
    std::error_code error;
    auto size = std::filesystem::file_size(path, error);
    if (error || size > DiagnosticsStore::largestReadableFile) return std::nullopt;
    std::ifstream stream(path, std::ios::binary);
    if (!stream) return std::nullopt;
    std::ostringstream bytes;
    bytes << stream.rdbuf();
    try {
        return decodeDiagnosticsSnapshot(cli::Json::parse(bytes.str()));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

DiagnosticsStore::DiagnosticsStore(std::filesystem::path fileURL, cli::Logger logger)
    : fileURL_(std::move(fileURL)), logger_(std::move(logger)) {
    if (auto loaded = loadSnapshot(fileURL_)) snapshot_ = std::move(*loaded);
}

template <typename Change>
void DiagnosticsStore::update(Change change) {
    std::lock_guard lock(mutex_);
    change(snapshot_);
    persist();
}

void DiagnosticsStore::updateEnv(EnvSnapshot env) {
    update([&](DiagnosticsSnapshot& snapshot) { snapshot.env = std::move(env); });
}

void DiagnosticsStore::updateAssets(AssetsSnapshot assets) {
    update([&](DiagnosticsSnapshot& snapshot) { snapshot.assets = std::move(assets); });
}

void DiagnosticsStore::updateDownload(std::optional<DownloadSnapshot> download) {
    update([&](DiagnosticsSnapshot& snapshot) { snapshot.download = std::move(download); });
}

void DiagnosticsStore::updateLogPath(std::optional<std::string> logPath) {
    update([&](DiagnosticsSnapshot& snapshot) { snapshot.lastLogPath = std::move(logPath); });
}

DiagnosticsSnapshot DiagnosticsStore::currentSnapshot() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
}

void DiagnosticsStore::persist() {
    try {
        cli::writeFileAtomically(fileURL_, cli::writeJson(cli::Json(snapshot_), {.escapeSlashes = true}));
    } catch (const std::exception& failure) {
        logger_.error(std::string("写入诊断信息失败: ") + failure.what());
    }
}

}  // namespace harkline
