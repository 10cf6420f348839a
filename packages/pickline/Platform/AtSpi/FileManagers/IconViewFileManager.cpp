#include "pickline/Platform/AtSpi/FileManagers/FileManagerParts.h"
#include "pickline/Platform/AtSpi/FileManagers/FileManagerStrategy.h"

namespace pickline::atspi {
namespace {

// Caja 1.26, Nemo 5.6 (GTK 3) and PCManFM 1.3 (GTK 2) show a folder alike: the icon view is
// a layered pane with Selection. They differ in how an icon gives its label and in where
// the folder shown is written.
class IconViewFileManager final : public FileManagerStrategy {
public:
    using ReadLabel = std::optional<std::string> (*)(AtSpiTree& tree, AtspiAccessible* icon);
    using ReadFolder = std::optional<std::string> (*)(AtSpiTree& tree, AtspiAccessible* window);

    IconViewFileManager(ReadLabel label, ReadFolder folder) : label_(label), folder_(folder) {}

    std::optional<std::vector<std::string>> selectedItems(AtSpiTree& tree, AtspiAccessible* window) const override {
        return parts::selectedLabels(tree, window, ATSPI_ROLE_LAYERED_PANE, parts::offersSelection,
                                     [&](AtspiAccessible* icon) { return label_(tree, icon); });
    }

    std::optional<std::string> currentFolder(AtSpiTree& tree, AtspiAccessible* window) const override {
        return folder_(tree, window);
    }

private:
    ReadLabel label_;
    ReadFolder folder_;
};

std::optional<std::string> iconName(AtSpiTree& tree, AtspiAccessible* icon) { return tree.name(icon); }

std::optional<std::string> iconText(AtSpiTree& tree, AtspiAccessible* icon) { return tree.wholeText(icon); }

// Nemo's location entry stays empty until opened, so the folder comes from its path bar:
// toggle buttons listed deepest first, the checked one the folder shown.
std::optional<std::string> pathBarFolder(AtSpiTree& tree, AtspiAccessible* window) {
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

}  // namespace

// Caja's icons are named after their files; its location entry, hidden or not, holds the folder.
const FileManagerStrategy& cajaStrategy() {
    static const IconViewFileManager strategy(iconName, parts::locationEntryFolder);
    return strategy;
}

const FileManagerStrategy& nemoStrategy() {
    static const IconViewFileManager strategy(iconName, pathBarFolder);
    return strategy;
}

// PCManFM's icons hold the file name as text; its location entry holds the folder.
const FileManagerStrategy& pcmanfmStrategy() {
    static const IconViewFileManager strategy(iconText, parts::locationEntryFolder);
    return strategy;
}

}  // namespace pickline::atspi
