#include "pickline/Platform/AtSpi/FileManagers/FileManagerParts.h"
#include "pickline/Platform/AtSpi/FileManagers/FileManagerStrategy.h"

namespace pickline::atspi {
namespace {

// PCManFM 1.3 (GTK 2): the icon view is a layered pane with Selection whose icons hold the
// file name as text; the location entry holds the folder.
class PcManFm final : public FileManagerStrategy {
public:
    std::optional<std::vector<std::string>> selectedItems(AtSpiTree& tree, AtspiAccessible* window) const override {
        return parts::selectedLabels(tree, window, ATSPI_ROLE_LAYERED_PANE, parts::offersSelection,
                                     [&](AtspiAccessible* item) { return tree.wholeText(item); });
    }

    std::optional<std::string> currentFolder(AtSpiTree& tree, AtspiAccessible* window) const override {
        return parts::locationEntryFolder(tree, window);
    }
};

}  // namespace

const FileManagerStrategy& pcmanfmStrategy() {
    static const PcManFm strategy;
    return strategy;
}

}  // namespace pickline::atspi
