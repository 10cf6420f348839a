#include "pickline/Platform/AtSpi/FileManagers/FileManagerParts.h"
#include "pickline/Platform/AtSpi/FileManagers/FileManagerStrategy.h"

namespace pickline::atspi {
namespace {

// Caja 1.26 (GTK 3): the icon view is a layered pane with Selection whose icons are named
// after their files; the location entry, hidden or not, holds the folder.
class Caja final : public FileManagerStrategy {
public:
    std::optional<std::vector<std::string>> selectedItems(AtSpiTree& tree, AtspiAccessible* window) const override {
        return parts::selectedLabels(tree, window, ATSPI_ROLE_LAYERED_PANE, parts::offersSelection,
                                     [&](AtspiAccessible* item) { return std::optional(tree.name(item)); });
    }

    std::optional<std::string> currentFolder(AtSpiTree& tree, AtspiAccessible* window) const override {
        return parts::locationEntryFolder(tree, window);
    }
};

}  // namespace

const FileManagerStrategy& cajaStrategy() {
    static const Caja strategy;
    return strategy;
}

}  // namespace pickline::atspi
