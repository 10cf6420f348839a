#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace harkline {

// The last `count` pieces of the file split at line feeds (a final line feed leaves an
// empty last piece), joined by line feeds. Absent when the file is missing, unreadable,
// or not UTF-8 text anywhere in it (so the whole file is read).
std::optional<std::string> readLogTail(const std::filesystem::path& path, std::uint64_t count);

}  // namespace harkline
