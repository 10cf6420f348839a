#include "pickline/Detection/FolderItemResolver.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string_view>
#include <system_error>

#include "cli-frame/Files/BoundedFile.h"

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

// Desktop entries are a few lines; a larger file is not read as one.
constexpr std::uintmax_t largestDesktopEntry = 64 * 1024;

// The Name of a desktop entry's main group, as file managers show the entry. The file may
// be anything, a FIFO or a device named like an entry among them: it is read without
// blocking, and only when it is a small regular file.
std::optional<std::string> desktopEntryName(const std::filesystem::path& path) {
    std::istringstream file;
    try {
        file.str(cli::readBoundedFile(path, largestDesktopEntry));
    } catch (const std::exception&) {
        return std::nullopt;
    }
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
    // Entries that show the same label are handed out in one order, whatever the listing's.
    std::sort(entries_->begin(), entries_->end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return *entries_;
}

std::vector<const FolderItemResolver::Entry*> FolderItemResolver::entriesShowing(const std::string& label) {
    std::string wanted = comparable(label);
    std::vector<const Entry*> showing;
    for (const auto& entry : entries())
        if (entry.shownName == wanted || entry.desktopName == label) showing.push_back(&entry);
    return showing;
}

FolderItemResolver::Resolution FolderItemResolver::resolve(const std::vector<std::string>& labels) {
    struct Candidates {
        std::vector<const Entry*> showing;
        std::size_t selected = 0;
        std::size_t handedOut = 0;
    };
    std::map<std::string, Candidates> byLabel;
    for (const auto& label : labels)
        if (!label.empty()) ++byLabel[label].selected;
    for (auto& [label, candidates] : byLabel) candidates.showing = entriesShowing(label);

    Resolution resolution;
    std::filesystem::path folder(folder_);
    for (const auto& label : labels) {
        if (label.empty()) continue;
        auto& candidates = byLabel[label];
        if (candidates.showing.empty() || candidates.showing.size() != candidates.selected) {
            resolution.leftOut.push_back({label, candidates.showing.size()});
            continue;
        }
        resolution.paths.push_back((folder / candidates.showing[candidates.handedOut++]->name).string());
    }
    return resolution;
}

}  // namespace pickline
