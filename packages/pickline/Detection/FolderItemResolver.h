#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace pickline {

// Finds the files a file manager's selected items stand for. An item's label is usually
// the file's name, but not always: a desktop entry shows its Name, and a name that is not
// UTF-8 is shown with replacement characters, so two entries may show the same label.
// Every path it answers exists, and none is a guess.
class FolderItemResolver {
public:
    struct LeftOut {
        std::string label;
        std::size_t matchingEntries;  // 0: no entry shows the label
    };
    struct Resolution {
        std::vector<std::string> paths;  // in selection order, each entry once
        std::vector<LeftOut> leftOut;
    };

    explicit FolderItemResolver(std::string folder);

    // The entries behind the selected labels. A label stands for the entries of the folder
    // that show it; they are reported only when the selection holds that label as many
    // times as there are such entries (then each of them once), since otherwise nothing
    // tells which of them were selected. Empty labels are skipped.
    Resolution resolve(const std::vector<std::string>& labels);

private:
    struct Entry {
        std::string name;
        std::string shownName;                   // the name as a file manager would show it
        std::optional<std::string> desktopName;  // a desktop entry's Name
    };
    const std::vector<Entry>& entries();
    std::vector<const Entry*> entriesShowing(const std::string& label);

    std::string folder_;
    std::optional<std::vector<Entry>> entries_;
};

}  // namespace pickline
