#include "pickline/Platform/AtSpi/AtSpiAccessibilityPlatform.h"

#include <vector>

#include "pickline/Platform/AtSpi/AtSpiTree.h"
#include "pickline/Platform/AtSpi/FileManagers/FileManagerTable.h"

namespace pickline {

using atspi::Accessible;

struct AtSpiAccessibilityPlatform::State {
    // An element handed out: its accessible, or the parent and index to fetch it from on
    // its first read, so that listing a large view costs one call.
    struct Slot {
        Accessible accessible;
        Accessible parent;
        int index = 0;
    };

    explicit State(Limits limits) : bus(limits), tree(bus) {}

    // The active window, looked up once per run.
    const std::optional<atspi::AtSpiTree::ActiveWindow>& activeWindow() {
        if (!activeWindowTried) {
            activeWindowTried = true;
            activeWindowFound = tree.findActiveWindow();
        }
        return activeWindowFound;
    }

    Element handOut(Slot slot) {
        slots.push_back(std::move(slot));
        return Element{slots.size() - 1};
    }

    Accessible accessible(Element element) {
        if (element.id >= slots.size()) return nullptr;
        auto& slot = slots[element.id];
        if (!slot.accessible && slot.parent) {
            slot.accessible = tree.childAt(slot.parent.get(), slot.index);
            slot.parent.reset();
        }
        return slot.accessible;
    }

    atspi::AtSpiBusConnection bus;  // declared first: closed after every accessible is released
    atspi::AtSpiTree tree;
    bool activeWindowTried = false;
    std::optional<atspi::AtSpiTree::ActiveWindow> activeWindowFound;
    std::vector<Slot> slots;
};

AtSpiAccessibilityPlatform::AtSpiAccessibilityPlatform(Limits limits) : state_(std::make_unique<State>(limits)) {}

AtSpiAccessibilityPlatform::~AtSpiAccessibilityPlatform() = default;

bool AtSpiAccessibilityPlatform::isProcessTrusted() { return state_->bus.connect(); }

std::optional<FrontmostApplication> AtSpiAccessibilityPlatform::frontmostApplication() {
    const auto& active = state_->activeWindow();
    if (!active) return std::nullopt;
    return FrontmostApplication{active->applicationName,
                                atspi::fileManagerStrategy(active->applicationName) != nullptr};
}

std::optional<Element> AtSpiAccessibilityPlatform::focusedElement() {
    const auto& active = state_->activeWindow();
    if (!active) return std::nullopt;
    // The focus inside the active window, else anywhere in its application.
    Accessible focused = state_->tree.focusedIn(active->window.get());
    if (!focused) focused = state_->tree.focusedIn(active->application.get());
    if (!focused) return std::nullopt;
    return state_->handOut({std::move(focused), nullptr, 0});
}

std::optional<std::string> AtSpiAccessibilityPlatform::selectedText(Element element) {
    Accessible accessible = state_->accessible(element);
    if (!accessible) return std::nullopt;
    return state_->tree.selectedText(accessible.get());
}

std::optional<std::vector<Element>> AtSpiAccessibilityPlatform::children(Element element) {
    Accessible accessible = state_->accessible(element);
    if (!accessible) return std::nullopt;
    auto count = state_->tree.childCount(accessible.get());
    if (!count) return std::nullopt;
    std::vector<Element> children;
    children.reserve(static_cast<std::size_t>(*count));
    for (int index = 0; index < *count; ++index) children.push_back(state_->handOut({nullptr, accessible, index}));
    return children;
}

FileManagerSelection AtSpiAccessibilityPlatform::fileManagerSelection() {
    const auto& active = state_->activeWindow();
    const auto* strategy = active ? atspi::fileManagerStrategy(active->applicationName) : nullptr;
    if (strategy == nullptr) return {};
    auto& tree = state_->tree;
    auto items = strategy->selectedItems(tree, active->window.get());
    if (!items) return {{}, {}, "The file manager did not report its selection"};
    if (items->empty()) return {};
    auto folder = strategy->currentFolder(tree, active->window.get());
    if (!folder) return {{}, {}, "Could not determine the folder shown by the file manager"};
    return {std::move(*folder), std::move(*items), std::nullopt};
}

}  // namespace pickline
