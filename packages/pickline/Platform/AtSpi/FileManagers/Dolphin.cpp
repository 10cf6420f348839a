#include <algorithm>

#include "pickline/Platform/AtSpi/FileManagers/FileManagerParts.h"
#include "pickline/Platform/AtSpi/FileManagers/FileManagerStrategy.h"

namespace pickline::atspi {
namespace {

// Most items of a folder whose selected state is read: each costs two calls, and a larger
// folder could not be read within the run.
constexpr int mostItemsExamined = 2000;

// Dolphin 22 (Qt 5): the view is a table of cells named after their files, without the
// Selection interface; selected cells carry the SELECTED state. The folder comes from the
// breadcrumb buttons, which follow the navigator's hidden address field and mode switch.
class Dolphin final : public FileManagerStrategy {
public:
    std::optional<std::vector<std::string>> selectedItems(AtSpiTree& tree, AtspiAccessible* window) const override {
        Accessible view = parts::findView(tree, window, ATSPI_ROLE_TABLE, [](AtspiAccessible*) { return true; });
        if (!view) return std::vector<std::string>{};
        auto cells = parts::childrenMarkedSelected(tree, view.get(), mostItemsExamined);
        if (!cells) return std::nullopt;
        return parts::labels(*cells, [&](AtspiAccessible* cell) { return std::optional(tree.name(cell)); });
    }

    std::optional<std::string> currentFolder(AtSpiTree& tree, AtspiAccessible* window) const override {
        auto isNavigator = [&](AtspiAccessible* candidate) {
            auto below = tree.children(candidate, 8);
            auto field = std::find_if(below.begin(), below.end(), [&](const Accessible& child) {
                return tree.role(child.get()) == ATSPI_ROLE_COMBO_BOX;
            });
            return field != below.end() && field + 1 != below.end() && tree.role((field + 1)->get()) == ATSPI_ROLE_CHECK_BOX;
        };
        // The navigator sits in the main tool bar, a child of the window.
        Accessible bar = parts::toolBar(tree, window, 1);
        Accessible navigator = tree.firstWithRole(bar ? bar.get() : window, ATSPI_ROLE_FILLER, isNavigator,
                                                  {ATSPI_ROLE_TABLE, ATSPI_ROLE_LIST, ATSPI_ROLE_MENU_BAR});
        if (!navigator) return std::nullopt;
        std::vector<std::string> crumbs;
        bool pastModeSwitch = false;
        for (const auto& child : tree.children(navigator.get(), 256)) {
            auto role = tree.role(child.get());
            if (role == ATSPI_ROLE_CHECK_BOX) pastModeSwitch = true;
            // Buttons that do not fit are hidden, not removed.
            if (!pastModeSwitch || role != ATSPI_ROLE_PUSH_BUTTON) continue;
            if (auto name = tree.name(child.get()); !name.empty()) crumbs.push_back(std::move(name));
        }
        return parts::folderFromCrumbs(crumbs);
    }
};

}  // namespace

const FileManagerStrategy& dolphinStrategy() {
    static const Dolphin strategy;
    return strategy;
}

}  // namespace pickline::atspi
