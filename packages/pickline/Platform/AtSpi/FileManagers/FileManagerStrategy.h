#pragma once

#include <optional>
#include <string>
#include <vector>

#include "pickline/Platform/AtSpi/AtSpiTree.h"

namespace pickline::atspi {

// How one file manager shows its folder on the accessibility bus: where the selected
// items are, how an item gives its label, and where the folder shown is written.
class FileManagerStrategy {
public:
    virtual ~FileManagerStrategy() = default;

    // The labels of the selected items in selection order; empty when nothing is selected
    // or no folder view is shown; nothing when the view did not answer.
    virtual std::optional<std::vector<std::string>> selectedItems(AtSpiTree& tree, AtspiAccessible* window) const = 0;

    // The absolute path of the folder shown.
    virtual std::optional<std::string> currentFolder(AtSpiTree& tree, AtspiAccessible* window) const = 0;
};

// One strategy per file manager; FileManagerTable maps application names to them.
const FileManagerStrategy& nautilusStrategy();
const FileManagerStrategy& dolphinStrategy();
const FileManagerStrategy& thunarStrategy();
const FileManagerStrategy& nemoStrategy();
const FileManagerStrategy& cajaStrategy();
const FileManagerStrategy& pcmanfmStrategy();

}  // namespace pickline::atspi
