#include "pickline/FileReader/FileContentReader.h"

#include <filesystem>
#include <system_error>

#include "cli-frame/Files/BoundedFile.h"
#include "pickline/FileReader/TextFileExtensions.h"
#include "pickline/Runtime/Constants.h"

namespace pickline {
namespace {

bool isDirectory(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

bool isValidUtf8(const std::string& bytes) {
    std::size_t index = 0;
    while (index < bytes.size()) {
        auto lead = static_cast<unsigned char>(bytes[index]);
        std::size_t length;
        char32_t codePoint;
        if (lead < 0x80) {
            ++index;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            codePoint = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            codePoint = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            codePoint = lead & 0x07;
        } else {
            return false;
        }
        if (index + length > bytes.size()) return false;
        for (std::size_t offset = 1; offset < length; ++offset) {
            auto continuation = static_cast<unsigned char>(bytes[index + offset]);
            if ((continuation & 0xC0) != 0x80) return false;
            codePoint = (codePoint << 6) | (continuation & 0x3F);
        }
        // Overlong forms, surrogates and values past the last code point are not UTF-8.
        static constexpr char32_t smallestForLength[] = {0, 0, 0x80, 0x800, 0x10000};
        if (codePoint < smallestForLength[length] || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        index += length;
    }
    return true;
}

std::string latin1ToUtf8(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (char byte : bytes) {
        auto value = static_cast<unsigned char>(byte);
        if (value < 0x80) {
            text += byte;
        } else {
            text += static_cast<char>(0xC0 | (value >> 6));
            text += static_cast<char>(0x80 | (value & 0x3F));
        }
    }
    return text;
}

}  // namespace

std::vector<FileInfo> FileContentReader::createFileInfos(const std::vector<std::string>& paths) {
    std::vector<FileInfo> infos;
    infos.reserve(paths.size());
    for (const auto& path : paths) infos.push_back(FileInfo{fileURLString(path), readContent(path)});
    return infos;
}

std::optional<std::string> FileContentReader::readContent(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error) || isDirectory(path)) return std::nullopt;
    if (TextFileExtensions::supported().count(lowercasedExtension(path)) == 0) return std::nullopt;
    auto size = getFileSize(path);
    if (!size || *size < 0 || static_cast<std::uintmax_t>(*size) > constants::largestReadableFileBytes)
        return std::nullopt;
    // Not a regular file, grown past the limit meanwhile, or unreadable: no content.
    std::optional<std::string> bytes;
    try {
        bytes = cli::readBoundedFile(path, constants::largestReadableFileBytes);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (isValidUtf8(*bytes)) return bytes;
    return latin1ToUtf8(*bytes);
}

std::string FileContentReader::fileURLString(const std::string& path) {
    std::string absolute = path;
    if (absolute.empty() || absolute.front() != '/') {
        std::error_code error;
        auto current = std::filesystem::current_path(error).string();
        absolute = current + (current.ends_with('/') ? "" : "/") + path;
    }
    if (isDirectory(absolute) && !absolute.ends_with('/')) absolute += '/';

    // The characters a URL path may carry as they are; everything else, and every byte
    // of a multi-byte or non-UTF-8 name, is written as %XX.
    static constexpr std::string_view allowed =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~!$&'()*+,;=:@/";
    static constexpr char hexDigits[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (char character : absolute) {
        if (allowed.find(character) != std::string_view::npos) {
            url += character;
        } else {
            auto value = static_cast<unsigned char>(character);
            url += '%';
            url += hexDigits[value >> 4];
            url += hexDigits[value & 0x0F];
        }
    }
    return url;
}

std::string FileContentReader::lowercasedExtension(const std::string& path) {
    std::string_view name = path;
    while (name.size() > 1 && name.back() == '/') name.remove_suffix(1);
    auto slash = name.rfind('/');
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    auto dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    std::string extension(name.substr(dot + 1));
    for (auto& character : extension)
        if (character >= 'A' && character <= 'Z') character = static_cast<char>(character - 'A' + 'a');
    return extension;
}

std::optional<std::intmax_t> FileContentReader::getFileSize(const std::string& path) {
    std::error_code error;
    auto size = std::filesystem::file_size(path, error);
    if (error || size > static_cast<std::uintmax_t>(INTMAX_MAX)) return std::nullopt;
    return static_cast<std::intmax_t>(size);
}

}  // namespace pickline
