#include "pickline/Platform/AtSpi/AtSpiAccessibilityPlatform.h"

#include "pickline/Platform/AtSpi/AtSpiTree.h"
#include "pickline/Platform/AtSpi/FileManagers/FileManagerTable.h"

namespace pickline {
namespace {

using atspi::Accessible;

// An element handle: the whole desktop, or one accessible. A child listed by its parent
// is fetched from the bus only when first used, so listing a large view costs one call.
class AtSpiElement final : public AccessibilityElement {
public:
    static std::shared_ptr<AtSpiElement> desktop() {
        auto element = std::make_shared<AtSpiElement>();
        element->isDesktop_ = true;
        return element;
    }
    static std::shared_ptr<AtSpiElement> of(Accessible accessible) {
        auto element = std::make_shared<AtSpiElement>();
        element->accessible_ = std::move(accessible);
        return element;
    }
    static std::shared_ptr<AtSpiElement> childOf(Accessible parent, int index) {
        auto element = std::make_shared<AtSpiElement>();
        element->parent_ = std::move(parent);
        element->index_ = index;
        return element;
    }

    bool isDesktop() const { return isDesktop_; }

    // The accessible, fetched with one bounded call the first time.
    Accessible accessible(atspi::AtSpiTree& tree) const {
        if (!accessible_ && parent_) {
            accessible_ = tree.childAt(parent_.get(), index_);
            parent_.reset();
        }
        return accessible_;
    }

private:
    bool isDesktop_ = false;
    mutable Accessible accessible_;
    mutable Accessible parent_;
    int index_ = 0;
};

}  // namespace

struct AtSpiAccessibilityPlatform::State {
    explicit State(Limits limits) : bus(limits), tree(bus) {}

    // The active window, looked up once per run.
    const std::optional<atspi::AtSpiTree::ActiveWindow>& activeWindow() {
        if (!activeWindowTried) {
            activeWindowTried = true;
            activeWindowFound = tree.findActiveWindow();
        }
        return activeWindowFound;
    }

    atspi::AtSpiBusConnection bus;  // declared first: closed after every accessible is released
    atspi::AtSpiTree tree;
    bool activeWindowTried = false;
    std::optional<atspi::AtSpiTree::ActiveWindow> activeWindowFound;
};

AtSpiAccessibilityPlatform::AtSpiAccessibilityPlatform(Limits limits) : state_(std::make_unique<State>(limits)) {}

AtSpiAccessibilityPlatform::~AtSpiAccessibilityPlatform() = default;

bool AtSpiAccessibilityPlatform::isProcessTrusted() { return state_->bus.connect(); }

std::optional<FrontmostApplication> AtSpiAccessibilityPlatform::frontmostApplication() {
    const auto& active = state_->activeWindow();
    if (!active) return std::nullopt;
    return FrontmostApplication{active->applicationName, active->processIdentifier};
}

bool AtSpiAccessibilityPlatform::isFileManager(const FrontmostApplication& application) {
    return atspi::fileManagerStrategy(application.identifier) != nullptr;
}

FileManagerSelection AtSpiAccessibilityPlatform::fileManagerSelection(const FrontmostApplication& application) {
    const auto& active = state_->activeWindow();
    const auto* strategy = atspi::fileManagerStrategy(application.identifier);
    if (!active || strategy == nullptr || active->processIdentifier != application.processIdentifier) return {};
    auto& tree = state_->tree;
    auto items = strategy->selectedItems(tree, active->window.get());
    if (!items) return {{}, {}, "The file manager did not report its selection"};
    if (items->empty()) return {};
    auto folder = strategy->currentFolder(tree, active->window.get());
    if (!folder) return {{}, {}, "Could not determine the folder shown by the file manager"};
    return {std::move(*folder), std::move(*items), std::nullopt};
}

ElementRef AtSpiAccessibilityPlatform::systemWideElement() { return AtSpiElement::desktop(); }

// Only the frontmost application is ever asked for; any other process gets an element
// whose reads fail.
ElementRef AtSpiAccessibilityPlatform::applicationElement(int processIdentifier) {
    const auto& active = state_->activeWindow();
    if (active && active->processIdentifier == processIdentifier) return AtSpiElement::of(active->application);
    return AtSpiElement::of(nullptr);
}

std::optional<AttributeValue> AtSpiAccessibilityPlatform::copyAttributeValue(const ElementRef& element,
                                                                             ElementAttribute attribute) {
    const auto* handle = dynamic_cast<const AtSpiElement*>(element.get());
    if (handle == nullptr || !state_->bus.connect()) return std::nullopt;
    auto& tree = state_->tree;
    Accessible accessible;
    if (handle->isDesktop()) {
        // The desktop's focus is the focus inside the active window.
        if (attribute != ElementAttribute::focusedElement) return std::nullopt;
        const auto& active = state_->activeWindow();
        if (!active) return std::nullopt;
        accessible = active->window;
    } else {
        accessible = handle->accessible(tree);
        if (!accessible) return std::nullopt;
    }

    switch (attribute) {
    case ElementAttribute::focusedElement: {
        Accessible focused = tree.focusedIn(accessible.get());
        if (!focused) return std::nullopt;
        return ElementRef(AtSpiElement::of(std::move(focused)));
    }
    case ElementAttribute::selectedText: {
        auto text = tree.selectedText(accessible.get());
        if (!text) return std::nullopt;
        return std::move(*text);
    }
    case ElementAttribute::children: {
        auto count = tree.childCount(accessible.get());
        if (!count) return std::nullopt;
        std::vector<ElementRef> children;
        children.reserve(static_cast<std::size_t>(*count));
        for (int index = 0; index < *count; ++index) children.push_back(AtSpiElement::childOf(accessible, index));
        return children;
    }
    }
    return std::nullopt;
}

}  // namespace pickline
