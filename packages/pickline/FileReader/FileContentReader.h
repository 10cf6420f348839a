#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pickline {

// One selected file: its file URL and, for a small text file, its content.
struct FileInfo {
    std::string path;
    std::optional<std::string> text;

    bool operator==(const FileInfo&) const = default;
};

// Describes selected files. Never fails towards the caller: a file that cannot be
// read simply has no text.
class FileContentReader {
public:
    // One entry per path, in the same order.
    static std::vector<FileInfo> createFileInfos(const std::vector<std::string>& paths);

    // The content of a regular file with a text extension of at most the size limit, as
    // UTF-8; bytes that are not valid UTF-8 are decoded as ISO Latin-1.
    static std::optional<std::string> readContent(const std::string& path);

    // "file://" and the percent-encoded absolute path, with a final "/" for a directory.
    static std::string fileURLString(const std::string& path);

    // The part of the last path component after its last ".", lower-cased; empty if none.
    static std::string lowercasedExtension(const std::string& path);

    static std::optional<std::intmax_t> getFileSize(const std::string& path);
};

}  // namespace pickline
