#pragma once

#include <filesystem>
#include <string_view>

namespace cli {

// Replaces `path` with `contents` so that a reader, or a crash at any moment, sees
// either the old file or the new one: a temporary file in the same folder is written,
// synced, and renamed over the old one. Throws std::system_error on failure, leaving
// the old file untouched and no temporary behind. Temporaries ".NAME.PID.XXXXXX" that a
// killed writer left in the folder are removed first, once their process is gone or
// they are older than a minute.
void writeFileAtomically(const std::filesystem::path& path, std::string_view contents);

}  // namespace cli
