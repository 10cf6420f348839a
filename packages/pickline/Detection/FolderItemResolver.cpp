#include "pickline/Detection/FolderItemResolver.h"

#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

namespace pickline {
namespace {

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::string_view invalidEncodingSuffix = " (invalid encoding)";

// The length of the valid UTF-8 sequence at `position`, or 0 when the bytes there are not one.
std::size_t validSequenceLength(std::string_view text, std::size_t position) {
    auto byte = [&](std::size_t offset) { return static_cast<unsigned char>(text[position + offset]); };
    unsigned char lead = byte(0);
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || position + length > text.size()) return 0;
    for (std::size_t offset = 1; offset < length; ++offset)
        if ((byte(offset) & 0xC0) != 0x80) return 0;
    if ((length == 2 && lead < 0xC2) || (length == 3 && lead == 0xE0 && byte(1) < 0xA0) ||
        (length == 4 && ((lead == 0xF0 && byte(1) < 0x90) || lead > 0xF4 || (lead == 0xF4 && byte(1) > 0x8F))))
        return 0;
    return length;
}

// A form that a name and the label shown for it share whatever the toolkit did with bytes
// that are not UTF-8: every run of such bytes, replacement characters or "?" becomes one "?".
std::string comparable(std::string_view text) {
    if (text.ends_with(invalidEncodingSuffix)) text.remove_suffix(invalidEncodingSuffix.size());
    std::string result;
    bool inRun = false;
    for (std::size_t position = 0; position < text.size();) {
        std::size_t length = validSequenceLength(text, position);
        bool replaced = length == 0 || text.substr(position, length) == replacementCharacter || text[position] == '?';
        if (replaced && !inRun) result += '?';
        if (!replaced) result.append(text.substr(position, length));
        inRun = replaced;
        position += length == 0 ? 1 : length;
    }
    return result;
}

// The Name of a desktop entry's main group, as file managers show the entry.
std::optional<std::string> desktopEntryName(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::string line;
    bool inMainGroup = false;
    for (int lines = 0; lines < 200 && std::getline(file, line); ++lines) {
        if (line.starts_with('[')) inMainGroup = line == "[Desktop Entry]";
        else if (inMainGroup && line.starts_with("Name=")) return line.substr(5);
    }
    return std::nullopt;
}

}  // namespace

FolderItemResolver::FolderItemResolver(std::string folder) : folder_(std::move(folder)) {}

const std::vector<FolderItemResolver::Entry>& FolderItemResolver::entries() {
    if (entries_) return *entries_;
    entries_.emplace();
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error)) {
        Entry entry{it->path().filename().string(), comparable(it->path().filename().string()), std::nullopt};
        if (entry.name.ends_with(".desktop")) entry.desktopName = desktopEntryName(it->path());
        entries_->push_back(std::move(entry));
    }
    return *entries_;
}

std::optional<std::string> FolderItemResolver::resolve(const std::string& label) {
    std::filesystem::path folder(folder_);
    std::error_code error;
    if (!label.empty() && label.find('/') == std::string::npos && label != "." && label != ".." &&
        std::filesystem::symlink_status(folder / label, error).type() != std::filesystem::file_type::not_found &&
        !error)
        return (folder / label).string();

    std::string wanted = comparable(label);
    const Entry* match = nullptr;
    for (const auto& entry : entries()) {
        if (entry.shownName != wanted && entry.desktopName != label) continue;
        if (match != nullptr) return std::nullopt;  // several entries look the same: none is certain
        match = &entry;
    }
    if (match == nullptr) return std::nullopt;
    return (folder / match->name).string();
}

}  // namespace pickline
