#include "pickline/Detection/FileDetector.h"

#include <iostream>

#include "pickline/Detection/FolderItemResolver.h"

namespace pickline {

bool FileDetector::isFinder() {
    auto application = platform_.frontmostApplication();
    return application && platform_.isFileManager(*application);
}

FileDetector::Result FileDetector::detect() {
    auto application = platform_.frontmostApplication();
    if (!application || !platform_.isFileManager(*application)) return NotFinder{};
    auto selection = platform_.fileManagerSelection(*application);
    if (selection.failure) return Failure{*selection.failure};
    FolderItemResolver folder(selection.folder);
    std::vector<std::string> paths;
    for (const auto& item : selection.items) {
        if (item.empty()) continue;
        if (auto path = folder.resolve(item)) paths.push_back(std::move(*path));
        // pickline keeps no log file: what it leaves out is told on standard error.
        else std::cerr << "pickline: left out \"" << item << "\": no entry of " << selection.folder << " matches it\n";
    }
    if (paths.empty()) return NoSelection{};
    return Success{std::move(paths)};
}

}  // namespace pickline
