#include "pickline/Platform/AtSpi/FileManagers/FileManagerParts.h"
#include "pickline/Platform/AtSpi/FileManagers/FileManagerStrategy.h"

namespace pickline::atspi {
namespace {

// Nautilus 43 (GTK 4): the grid view is a table with Selection; each selected child is a
// table cell whose own child cell is named after the file. The location entry in the tool
// bar, even while hidden, holds the folder.
class Nautilus final : public FileManagerStrategy {
public:
    std::optional<std::vector<std::string>> selectedItems(AtSpiTree& tree, AtspiAccessible* window) const override {
        return parts::selectedLabels(tree, window, ATSPI_ROLE_TABLE, parts::offersSelection,
                                     [&](AtspiAccessible* cell) -> std::optional<std::string> {
                                         Accessible named = tree.childAt(cell, 0);
                                         if (!named) return std::nullopt;
                                         return tree.name(named.get());
                                     });
    }

    std::optional<std::string> currentFolder(AtSpiTree& tree, AtspiAccessible* window) const override {
        // The entry sits in the tool bar, a few single-child panels below the window.
        Accessible bar = parts::toolBar(tree, window, 4);
        return parts::locationEntryFolder(tree, bar ? bar.get() : window);
    }
};

}  // namespace

const FileManagerStrategy& nautilusStrategy() {
    static const Nautilus strategy;
    return strategy;
}

}  // namespace pickline::atspi
