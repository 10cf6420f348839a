#include "pickline/Detection/FileDetector.h"

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
    std::vector<std::string> paths;
    for (auto& path : selection.paths)
        if (!path.empty()) paths.push_back(std::move(path));
    if (paths.empty()) return NoSelection{};
    return Success{std::move(paths)};
}

}  // namespace pickline
