#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pickline {

// Finds the file a file manager's item stands for. The item's label is usually the file's
// name, but not always: a desktop entry shows its Name, and a name that is not UTF-8 is
// shown with replacement characters. Every path it answers exists.
class FolderItemResolver {
public:
    explicit FolderItemResolver(std::string folder);

    // The path of the one entry of the folder the label names; nothing when none or
    // several match.
    std::optional<std::string> resolve(const std::string& label);

private:
    struct Entry {
        std::string name;
        std::string shownName;                   // the name as a file manager would show it
        std::optional<std::string> desktopName;  // a desktop entry's Name
    };
    const std::vector<Entry>& entries();

    std::string folder_;
    std::optional<std::vector<Entry>> entries_;
};

}  // namespace pickline
