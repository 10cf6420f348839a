#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "cli-frame/Logging/Logger.h"
#include "hushline/Audio/AudioTypes.h"
#include "hushline/Audio/StateLock.h"

namespace hushline {

// Keeps the snapshot taken by `mute` on disk (state.json) until `restore` uses it, as mute
// and restore run in separate processes. The file is read at construction, and again under
// the lock; a file that is missing, unreadable, oversized or not a snapshot is ignored
// silently. It is replaced atomically, so a process starting meanwhile never sees half of it.
// Operations are serialised; none throws.
class StateStore {
public:
    StateStore(std::filesystem::path fileURL, cli::Logger logger,
               std::chrono::milliseconds lockTimeout = defaultLockTimeout);

    std::optional<AudioStateSnapshot> load() const;

    // Serialises the processes that change the snapshot: waits for the lock file beside it,
    // then reads the file again, as another process may have replaced it meanwhile. Nothing,
    // logged, when the lock cannot be had within the timeout.
    std::optional<StateLock> lockAndReload();

    // Holds the snapshot and writes it. False when it could not be written: the file, if
    // any, is as before and the snapshot will not outlive this process.
    bool save(const AudioStateSnapshot& snapshot);

    // Drops the held snapshot and deletes the file.
    void clear();

    const std::filesystem::path& fileURL() const { return fileURL_; }

    static constexpr std::uintmax_t largestReadableFile = 64 * 1024;
    // Far beyond what the holder of the lock needs, even with a server that answers late.
    static constexpr std::chrono::milliseconds defaultLockTimeout{5000};

private:
    bool persist();

    mutable std::mutex mutex_;
    std::optional<AudioStateSnapshot> snapshot_;
    std::filesystem::path fileURL_;
    cli::Logger logger_;
    std::chrono::milliseconds lockTimeout_;
};

// The file's bytes: compact, keys in field order, absent fields left out, "/" escaped.
// Throws cli::JsonEncodingError for a volume that is not a finite number.
std::string encodeStateFile(const AudioStateSnapshot& snapshot);

// Nothing unless the bytes are such an object with "deviceID" and "createdAt". Unknown keys
// are ignored, and so is an optional value that no device could have given (wrong type,
// negative, not a finite number, NaN and Infinity included): it costs only itself.
std::optional<AudioStateSnapshot> decodeStateFile(const std::string& bytes);

}  // namespace hushline
