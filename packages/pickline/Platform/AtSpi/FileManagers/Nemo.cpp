#include "pickline/Platform/AtSpi/FileManagers/FileManagerParts.h"
#include "pickline/Platform/AtSpi/FileManagers/FileManagerStrategy.h"

namespace pickline::atspi {
namespace {

// Nemo 5.6 (GTK 3): the icon view is a layered pane with Selection whose icons are named
// after their files. Its location entry stays empty until opened, so the folder comes from
// the path bar: toggle buttons listed deepest first, the checked one the folder shown.
class Nemo final : public FileManagerStrategy {
public:
    std::optional<std::vector<std::string>> selectedItems(AtSpiTree& tree, AtspiAccessible* window) const override {
        return parts::selectedLabels(tree, window, ATSPI_ROLE_LAYERED_PANE, parts::offersSelection,
                                     [&](AtspiAccessible* item) { return std::optional(tree.name(item)); });
    }

    std::optional<std::string> currentFolder(AtSpiTree& tree, AtspiAccessible* window) const override {
        // The path bar's current button: checked, on screen and named (the root's is not).
        Accessible current = tree.firstWithRole(window, ATSPI_ROLE_TOGGLE_BUTTON, [&](AtspiAccessible* button) {
            return tree.hasState(button, ATSPI_STATE_CHECKED) && tree.hasState(button, ATSPI_STATE_SHOWING) &&
                   !tree.name(button).empty();
        });
        Accessible bar = current ? tree.parent(current.get()) : nullptr;
        if (!bar) return std::nullopt;
        std::vector<std::string> crumbs;
        bool reached = false;
        for (const auto& button : tree.children(bar.get(), 256)) {
            if (tree.role(button.get()) != ATSPI_ROLE_TOGGLE_BUTTON) continue;
            reached = reached || button == current;
            if (reached) crumbs.insert(crumbs.begin(), tree.name(button.get()));
        }
        return parts::folderFromCrumbs(crumbs);
    }
};

}  // namespace

const FileManagerStrategy& nemoStrategy() {
    static const Nemo strategy;
    return strategy;
}

}  // namespace pickline::atspi
