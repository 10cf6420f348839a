#include "pickline/Detection/FileDetector.h"

#include <iostream>

#include "pickline/Detection/FolderItemResolver.h"

namespace pickline {

FileDetector::Result FileDetector::detect() {
    auto selection = platform_.fileManagerSelection();
    if (selection.failure) return Failure{*selection.failure};
    auto resolution = FolderItemResolver(selection.folder).resolve(selection.items);
    // pickline keeps no log file: what it leaves out is told on standard error.
    for (const auto& item : resolution.leftOut) {
        std::cerr << "pickline: left out \"" << item.label << "\": ";
        if (item.matchingEntries == 0) {
            std::cerr << "no entry of " << selection.folder << " matches it\n";
        } else {
            std::cerr << item.matchingEntries << " entries of " << selection.folder
                      << " show it, and the selection does not tell which\n";
        }
    }
    if (resolution.paths.empty()) return NoSelection{};
    return Success{std::move(resolution.paths)};
}

}  // namespace pickline
