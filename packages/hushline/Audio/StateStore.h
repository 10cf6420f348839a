#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "cli-frame/Logging/Logger.h"
#include "hushline/Audio/AudioTypes.h"

namespace hushline {

// Keeps the snapshot taken by `mute` on disk (state.json) until `restore` uses it, as mute
// and restore run in separate processes. The file is read once, at construction; a file that
// is missing, unreadable, oversized or not a snapshot is ignored silently. It is replaced
// atomically, so a process starting meanwhile never sees half of it. Operations are
// serialised; none throws.
class StateStore {
public:
    StateStore(std::filesystem::path fileURL, cli::Logger logger);

    std::optional<AudioStateSnapshot> load() const;

    // Holds the snapshot and writes it. False when it could not be written: the file, if
    // any, is as before and the snapshot will not outlive this process.
    bool save(const AudioStateSnapshot& snapshot);

    // Drops the held snapshot and deletes the file.
    void clear();

    const std::filesystem::path& fileURL() const { return fileURL_; }

    static constexpr std::uintmax_t largestReadableFile = 64 * 1024;

private:
    bool persist();

    mutable std::mutex mutex_;
    std::optional<AudioStateSnapshot> snapshot_;
    std::filesystem::path fileURL_;
    cli::Logger logger_;
};

// The file's bytes: compact, keys in field order, absent fields left out, "/" escaped.
// Throws cli::JsonEncodingError for a volume that is not a finite number.
std::string encodeStateFile(const AudioStateSnapshot& snapshot);

// Nothing unless the bytes are exactly such an object (unknown keys are ignored).
std::optional<AudioStateSnapshot> decodeStateFile(const std::string& bytes);

}  // namespace hushline
