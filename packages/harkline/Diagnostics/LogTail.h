#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace harkline {

// The last `count` pieces of the file split at line feeds (a final line feed leaves an
// empty last piece), joined by line feeds. Reads backwards from the end, so the cost
// follows the size of the tail, not of the file. Absent when the file is missing,
// unreadable, or the tail is not UTF-8 text.
std::optional<std::string> readLogTail(const std::filesystem::path& path, std::uint64_t count);

}  // namespace harkline
