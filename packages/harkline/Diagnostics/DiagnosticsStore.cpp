#include "harkline/Diagnostics/DiagnosticsStore.h"

#include "cli-frame/Files/AtomicFile.h"
#include "cli-frame/Files/BoundedFile.h"
#include "cli-frame/Json/JsonWriter.h"

namespace harkline {
namespace {

struct LoadedSnapshot {
    DiagnosticsSnapshot snapshot;
    std::string bytes;
};

std::optional<LoadedSnapshot> loadSnapshot(const std::filesystem::path& path) {
    try {
        auto bytes = cli::readBoundedFile(path, DiagnosticsStore::largestReadableFile);
        return LoadedSnapshot{decodeDiagnosticsSnapshot(cli::Json::parse(bytes)), bytes};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

DiagnosticsStore::DiagnosticsStore(std::filesystem::path fileURL, cli::Logger logger)
    : fileURL_(std::move(fileURL)), logger_(std::move(logger)) {
    if (auto loaded = loadSnapshot(fileURL_)) {
        snapshot_ = std::move(loaded->snapshot);
        persistedBytes_ = std::move(loaded->bytes);
    }
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
        std::string bytes = cli::writeJson(cli::Json(snapshot_), {.escapeSlashes = true});
        // Most starts record the same log path again; the file already holds these exact
        // bytes, so the durable rewrite (two syncs) is skipped.
        if (bytes == persistedBytes_) return;
        cli::writeFileAtomically(fileURL_, bytes);
        persistedBytes_ = std::move(bytes);
    } catch (const std::exception& failure) {
        logger_.error(std::string("写入诊断信息失败: ") + failure.what());
    }
}

}  // namespace harkline
