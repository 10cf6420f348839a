#include "pickline/Platform/AtSpi/FileManagers/FileManagerParts.h"
#include "pickline/Platform/AtSpi/FileManagers/FileManagerStrategy.h"

namespace pickline::atspi {
namespace {

// Thunar 4.18 (GTK 3): only the list view publishes its items, as a table with Selection
// inside the "directory pane". A selected row reports each of its cells; the row's first
// cell holds the name cell among its own children. The location entry holds the folder.
class Thunar final : public FileManagerStrategy {
public:
    std::optional<std::vector<std::string>> selectedItems(AtSpiTree& tree, AtspiAccessible* window) const override {
        auto isListView = [&](AtspiAccessible* candidate) {
            Accessible pane = tree.parent(candidate);
            return pane && tree.role(pane.get()) == ATSPI_ROLE_DIRECTORY_PANE && parts::offersSelection(candidate);
        };
        Accessible view = parts::findView(tree, window, ATSPI_ROLE_TABLE, isListView);
        if (!view) return std::vector<std::string>{};
        auto cells = parts::selectedChildren(tree, view.get());
        if (!cells) return std::nullopt;
        std::vector<Accessible> firstCells;
        for (auto& cell : *cells)
            if (tree.childCount(cell.get()).value_or(0) > 0) firstCells.push_back(std::move(cell));
        return parts::labels(firstCells, [&](AtspiAccessible* cell) -> std::optional<std::string> {
            for (const auto& part : tree.children(cell, 8))
                if (auto text = tree.wholeText(part.get()); text && !text->empty()) return text;
            return std::nullopt;
        });
    }

    std::optional<std::string> currentFolder(AtSpiTree& tree, AtspiAccessible* window) const override {
        return parts::locationEntryFolder(tree, window);
    }
};

}  // namespace

const FileManagerStrategy& thunarStrategy() {
    static const Thunar strategy;
    return strategy;
}

}  // namespace pickline::atspi
