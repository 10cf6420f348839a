#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace cli {

// Reads a whole file that a user or the environment names, which may be anything: it is
// opened without blocking (a FIFO or a device never holds the process), must be a regular
// file, and is read only up to `limit` bytes, so that neither /dev/zero nor a huge file
// grows the process. Throws std::system_error when it cannot be opened or read, and
// std::runtime_error when it is not a regular file or is larger than `limit`; each says
// why, naming the path.
std::string readBoundedFile(const std::filesystem::path& path, std::uintmax_t limit);

}  // namespace cli
