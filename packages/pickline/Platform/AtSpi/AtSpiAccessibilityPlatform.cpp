#include "pickline/Platform/AtSpi/AtSpiAccessibilityPlatform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string_view>

#include <atspi/atspi.h>
#include <dbus/dbus.h>

namespace pickline {
namespace {

using Clock = std::chrono::steady_clock;
using Accessible = std::shared_ptr<AtspiAccessible>;

Accessible adopt(AtspiAccessible* accessible) {
    if (accessible == nullptr) return nullptr;
    return Accessible(accessible, [](AtspiAccessible* object) { g_object_unref(object); });
}

// Owns a GError for one call and frees it.
class CallError {
public:
    CallError() = default;
    ~CallError() {
        if (error_ != nullptr) g_error_free(error_);
    }
    CallError(const CallError&) = delete;
    CallError& operator=(const CallError&) = delete;

    GError** out() { return &error_; }
    explicit operator bool() const { return error_ != nullptr; }
    std::string message() const { return error_ != nullptr ? error_->message : ""; }

private:
    GError* error_ = nullptr;
};

std::string takeString(gchar* text) {
    if (text == nullptr) return {};
    std::string copy(text);
    g_free(text);
    return copy;
}

// Applications known to be file managers, by their name on the bus, and the role of the
// view in them that lists a folder's items with the Selection interface.
struct KnownFileManager {
    std::string_view name;
    AtspiRole viewRole;
};
constexpr KnownFileManager knownFileManagers[] = {
    {"pcmanfm", ATSPI_ROLE_LAYERED_PANE},
};

const KnownFileManager* findFileManager(std::string_view name) {
    for (const auto& manager : knownFileManagers)
        if (manager.name == name) return &manager;
    return nullptr;
}

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

    // The accessible, fetched with one bounded call the first time; `arm` bounds that call.
    template <typename ArmCall>
    Accessible accessible(ArmCall&& arm) const {
        if (!accessible_ && parent_ && arm()) {
            CallError error;
            accessible_ = adopt(atspi_accessible_get_child_at_index(parent_.get(), index_, error.out()));
            if (error) accessible_.reset();
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
    struct Frontmost {
        Accessible application;
        Accessible window;
        FrontmostApplication description;
    };

    Limits limits;
    Clock::time_point deadline;
    bool connectionTried = false;
    bool initialised = false;  // libatspi holds a connection that must be closed
    bool connected = false;
    bool frontmostTried = false;
    std::optional<Frontmost> frontmost;

    explicit State(Limits chosen) : limits(chosen), deadline(Clock::now() + chosen.wholeRun) {}

    int remainingMilliseconds() const {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return static_cast<int>(std::max<long long>(left, 0));
    }

    // Bounds the next bus call by what is left of the run; false once it is spent.
    bool arm() {
        int left = remainingMilliseconds();
        if (left <= 0) return false;
        int timeout = std::min(left, static_cast<int>(limits.perCall.count()));
        atspi_set_timeout(timeout, timeout);
        return true;
    }

    std::optional<std::string> askAccessibilityBusAddress(const char* sessionBus);
    bool connect();

    std::optional<int> childCount(AtspiAccessible* accessible);
    Accessible childAt(AtspiAccessible* accessible, int index);
    std::optional<AtspiRole> role(AtspiAccessible* accessible);
    bool hasState(AtspiAccessible* accessible, AtspiStateType state);
    std::optional<std::string> wholeText(AtspiAccessible* accessible);
    std::optional<std::string> selectedText(AtspiAccessible* accessible);
    std::vector<Accessible> matches(AtspiAccessible* root, AtspiMatchRule* rule, int count);
    Accessible focusedIn(AtspiAccessible* root);
    const std::optional<Frontmost>& findFrontmost();
    Accessible findView(const Accessible& focused, AtspiRole viewRole);
    std::optional<std::string> currentFolder(AtspiAccessible* window);
};

// Asks the session bus for the accessibility bus with our own bounded calls: libatspi
// would wait for the default 25 s on a session bus that does not answer.
std::optional<std::string> AtSpiAccessibilityPlatform::State::askAccessibilityBusAddress(const char* sessionBus) {
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* connection = dbus_connection_open_private(sessionBus, &error);
    if (connection == nullptr) {
        dbus_error_free(&error);
        return std::nullopt;
    }
    dbus_connection_set_exit_on_disconnect(connection, FALSE);
    auto call = [&](DBusMessage* message) -> DBusMessage* {
        if (message == nullptr) return nullptr;
        int left = remainingMilliseconds();
        DBusMessage* reply = left <= 0 ? nullptr
                                       : dbus_connection_send_with_reply_and_block(connection, message, left, &error);
        dbus_message_unref(message);
        dbus_error_free(&error);
        return reply;
    };
    std::optional<std::string> address;
    if (DBusMessage* hello = call(dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                               "org.freedesktop.DBus", "Hello"))) {
        dbus_message_unref(hello);
        if (DBusMessage* reply =
                call(dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"))) {
            const char* text = nullptr;
            if (dbus_message_get_args(reply, &error, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID) && text != nullptr &&
                *text != '\0')
                address = text;
            dbus_error_free(&error);
            dbus_message_unref(reply);
        }
    }
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
    return address;
}

bool AtSpiAccessibilityPlatform::State::connect() {
    if (connectionTried) return connected;
    connectionTried = true;

    const char* sessionBus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (sessionBus == nullptr || *sessionBus == '\0' || std::strstr(sessionBus, "autolaunch:") != nullptr)
        return false;
    const char* preset = std::getenv("AT_SPI_BUS_ADDRESS");
    if (preset == nullptr || *preset == '\0') {
        auto address = askAccessibilityBusAddress(sessionBus);
        if (!address) return false;
        // libatspi connects straight to this address and never asks the session bus itself.
        setenv("AT_SPI_BUS_ADDRESS", address->c_str(), 1);
    }
    if (!arm() || atspi_init() > 1) return false;
    initialised = true;
    Accessible desktop = adopt(atspi_get_desktop(0));
    connected = desktop && childCount(desktop.get()).has_value();
    return connected;
}

std::optional<int> AtSpiAccessibilityPlatform::State::childCount(AtspiAccessible* accessible) {
    if (!arm()) return std::nullopt;
    CallError error;
    int count = atspi_accessible_get_child_count(accessible, error.out());
    if (error || count < 0) return std::nullopt;
    return count;
}

Accessible AtSpiAccessibilityPlatform::State::childAt(AtspiAccessible* accessible, int index) {
    if (!arm()) return nullptr;
    CallError error;
    Accessible child = adopt(atspi_accessible_get_child_at_index(accessible, index, error.out()));
    return error ? nullptr : child;
}

std::optional<AtspiRole> AtSpiAccessibilityPlatform::State::role(AtspiAccessible* accessible) {
    if (!arm()) return std::nullopt;
    CallError error;
    AtspiRole found = atspi_accessible_get_role(accessible, error.out());
    if (error) return std::nullopt;
    return found;
}

bool AtSpiAccessibilityPlatform::State::hasState(AtspiAccessible* accessible, AtspiStateType state) {
    if (!arm()) return false;
    AtspiStateSet* states = atspi_accessible_get_state_set(accessible);
    if (states == nullptr) return false;
    bool contained = atspi_state_set_contains(states, state);
    g_object_unref(states);
    return contained;
}

std::optional<std::string> AtSpiAccessibilityPlatform::State::wholeText(AtspiAccessible* accessible) {
    AtspiText* text = atspi_accessible_get_text_iface(accessible);
    if (text == nullptr) return std::nullopt;
    std::optional<std::string> content;
    if (arm()) {
        CallError error;
        std::string read = takeString(atspi_text_get_text(text, 0, -1, error.out()));
        if (!error) content = std::move(read);
    }
    g_object_unref(text);
    return content;
}

// All selections of the element's text, joined by line feeds; empty when there is none.
std::optional<std::string> AtSpiAccessibilityPlatform::State::selectedText(AtspiAccessible* accessible) {
    AtspiText* text = atspi_accessible_get_text_iface(accessible);
    if (text == nullptr) return std::nullopt;
    std::optional<std::string> joined;
    CallError countError;
    int selections = arm() ? atspi_text_get_n_selections(text, countError.out()) : -1;
    if (!countError && selections >= 0) {
        joined.emplace();
        for (int index = 0; index < selections && joined; ++index) {
            CallError error;
            AtspiRange* range = arm() ? atspi_text_get_selection(text, index, error.out()) : nullptr;
            if (error || range == nullptr) {
                joined.reset();
                break;
            }
            int start = range->start_offset;
            int end = range->end_offset;
            g_free(range);
            if (start >= end) continue;
            CallError readError;
            std::string piece = arm() ? takeString(atspi_text_get_text(text, start, end, readError.out())) : "";
            if (readError) {
                joined.reset();
                break;
            }
            if (!joined->empty() && !piece.empty()) *joined += '\n';
            *joined += piece;
        }
    }
    g_object_unref(text);
    return joined;
}

std::vector<Accessible> AtSpiAccessibilityPlatform::State::matches(AtspiAccessible* root, AtspiMatchRule* rule,
                                                                   int count) {
    std::vector<Accessible> found;
    AtspiCollection* collection = atspi_accessible_get_collection_iface(root);
    if (collection == nullptr) return found;
    if (arm()) {
        CallError error;
        GArray* results = atspi_collection_get_matches(collection, rule, ATSPI_Collection_SORT_ORDER_CANONICAL, count,
                                                       TRUE, error.out());
        if (results != nullptr) {
            for (guint index = 0; index < results->len; ++index)
                found.push_back(adopt(g_array_index(results, AtspiAccessible*, index)));
            g_array_free(results, TRUE);
        }
        if (error) found.clear();
    }
    g_object_unref(collection);
    return found;
}

Accessible AtSpiAccessibilityPlatform::State::focusedIn(AtspiAccessible* root) {
    AtspiStateSet* focused = atspi_state_set_new(nullptr);
    atspi_state_set_add(focused, ATSPI_STATE_FOCUSED);
    AtspiMatchRule* rule =
        atspi_match_rule_new(focused, ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_NONE, nullptr,
                             ATSPI_Collection_MATCH_NONE, nullptr, ATSPI_Collection_MATCH_NONE, FALSE);
    auto found = matches(root, rule, 1);
    g_object_unref(rule);
    g_object_unref(focused);
    return found.empty() ? nullptr : found.front();
}

const std::optional<AtSpiAccessibilityPlatform::State::Frontmost>& AtSpiAccessibilityPlatform::State::findFrontmost() {
    if (frontmostTried || !connect()) return frontmost;
    frontmostTried = true;
    Accessible desktop = adopt(atspi_get_desktop(0));
    auto applications = childCount(desktop.get());
    for (int appIndex = 0; applications && appIndex < *applications && !frontmost; ++appIndex) {
        Accessible application = childAt(desktop.get(), appIndex);
        if (!application) continue;
        auto windows = childCount(application.get());
        for (int windowIndex = 0; windows && windowIndex < *windows; ++windowIndex) {
            Accessible window = childAt(application.get(), windowIndex);
            if (!window || !hasState(window.get(), ATSPI_STATE_ACTIVE)) continue;
            FrontmostApplication description;
            CallError nameError;
            if (arm()) description.identifier = takeString(atspi_accessible_get_name(application.get(), nameError.out()));
            CallError processError;
            if (arm())
                description.processIdentifier =
                    static_cast<int>(atspi_accessible_get_process_id(application.get(), processError.out()));
            if (processError) description.processIdentifier = 0;
            frontmost = Frontmost{application, window, std::move(description)};
            break;
        }
    }
    return frontmost;
}

// The file manager's folder view: the focused element itself, something close below it
// (PCManFM focuses the scroll pane around its view) or an item's ancestor.
Accessible AtSpiAccessibilityPlatform::State::findView(const Accessible& focused, AtspiRole viewRole) {
    auto isView = [&](AtspiAccessible* candidate) {
        if (role(candidate) != viewRole) return false;
        AtspiSelection* selection = atspi_accessible_get_selection_iface(candidate);
        if (selection == nullptr) return false;
        g_object_unref(selection);
        return true;
    };
    std::deque<std::pair<Accessible, int>> queue{{focused, 0}};
    while (!queue.empty()) {
        auto [candidate, depth] = queue.front();
        queue.pop_front();
        if (isView(candidate.get())) return candidate;
        if (depth == 2) continue;
        auto count = childCount(candidate.get());
        for (int index = 0; count && index < std::min(*count, 10); ++index)
            if (auto child = childAt(candidate.get(), index)) queue.emplace_back(child, depth + 1);
    }
    Accessible ancestor = focused;
    for (int level = 0; level < 3 && ancestor; ++level) {
        CallError error;
        ancestor = arm() ? adopt(atspi_accessible_get_parent(ancestor.get(), error.out())) : nullptr;
        if (error) break;
        if (ancestor && isView(ancestor.get())) return ancestor;
    }
    return nullptr;
}

// The folder shown: the window's location entry, the text field that holds an absolute path.
std::optional<std::string> AtSpiAccessibilityPlatform::State::currentFolder(AtspiAccessible* window) {
    GArray* roles = g_array_new(FALSE, FALSE, sizeof(AtspiRole));
    AtspiRole textRole = ATSPI_ROLE_TEXT;
    g_array_append_val(roles, textRole);
    AtspiMatchRule* rule =
        atspi_match_rule_new(nullptr, ATSPI_Collection_MATCH_NONE, nullptr, ATSPI_Collection_MATCH_NONE, roles,
                             ATSPI_Collection_MATCH_ANY, nullptr, ATSPI_Collection_MATCH_NONE, FALSE);
    auto fields = matches(window, rule, 0);
    g_object_unref(rule);
    g_array_free(roles, TRUE);
    for (const auto& field : fields) {
        auto text = wholeText(field.get());
        if (text && text->starts_with('/')) return text;
    }
    return std::nullopt;
}

AtSpiAccessibilityPlatform::AtSpiAccessibilityPlatform(Limits limits) : state_(std::make_unique<State>(limits)) {}

AtSpiAccessibilityPlatform::~AtSpiAccessibilityPlatform() {
    if (state_->initialised) {
        state_->frontmost.reset();
        atspi_exit();
    }
}

bool AtSpiAccessibilityPlatform::isProcessTrusted() { return state_->connect(); }

std::optional<FrontmostApplication> AtSpiAccessibilityPlatform::frontmostApplication() {
    const auto& frontmost = state_->findFrontmost();
    if (!frontmost) return std::nullopt;
    return frontmost->description;
}

bool AtSpiAccessibilityPlatform::isFileManager(const FrontmostApplication& application) {
    return findFileManager(application.identifier) != nullptr;
}

FileManagerSelection AtSpiAccessibilityPlatform::fileManagerSelection(const FrontmostApplication& application) {
    FileManagerSelection answer;
    const auto* manager = findFileManager(application.identifier);
    const auto& frontmost = state_->findFrontmost();
    if (manager == nullptr || !frontmost || frontmost->description.processIdentifier != application.processIdentifier)
        return answer;
    Accessible focused = state_->focusedIn(frontmost->window.get());
    Accessible view = focused ? state_->findView(focused, manager->viewRole) : nullptr;
    if (!view) return answer;

    AtspiSelection* selection = atspi_accessible_get_selection_iface(view.get());
    if (selection == nullptr) return answer;
    std::vector<std::string> names;
    CallError countError;
    int selected = state_->arm() ? atspi_selection_get_n_selected_children(selection, countError.out()) : -1;
    if (countError || selected < 0) {
        answer.failure = "The file manager did not report its selection: " +
                         (countError ? countError.message() : std::string("no time left"));
    }
    for (int index = 0; !answer.failure && index < selected; ++index) {
        CallError error;
        Accessible item = state_->arm() ? adopt(atspi_selection_get_selected_child(selection, index, error.out()))
                                        : nullptr;
        auto name = item ? state_->wholeText(item.get()) : std::nullopt;
        if (error || !name) {
            answer.failure = "The file manager did not name a selected item";
            break;
        }
        if (!name->empty()) names.push_back(std::move(*name));
    }
    g_object_unref(selection);
    if (answer.failure || names.empty()) return answer;

    auto folder = state_->currentFolder(frontmost->window.get());
    if (!folder) {
        answer.failure = "Could not determine the folder shown by the file manager";
        return answer;
    }
    if (!folder->ends_with('/')) *folder += '/';
    for (const auto& name : names) answer.paths.push_back(*folder + name);
    return answer;
}

ElementRef AtSpiAccessibilityPlatform::systemWideElement() { return AtSpiElement::desktop(); }

// Only the frontmost application is ever asked for; any other process gets an element
// whose reads fail.
ElementRef AtSpiAccessibilityPlatform::applicationElement(int processIdentifier) {
    const auto& frontmost = state_->findFrontmost();
    if (frontmost && frontmost->description.processIdentifier == processIdentifier)
        return AtSpiElement::of(frontmost->application);
    return AtSpiElement::of(nullptr);
}

std::optional<AttributeValue> AtSpiAccessibilityPlatform::copyAttributeValue(const ElementRef& element,
                                                                             ElementAttribute attribute) {
    const auto* handle = dynamic_cast<const AtSpiElement*>(element.get());
    if (handle == nullptr || !state_->connect()) return std::nullopt;
    Accessible accessible;
    if (handle->isDesktop()) {
        // The desktop's focus is the focus inside the active window.
        if (attribute != ElementAttribute::focusedElement) return std::nullopt;
        const auto& frontmost = state_->findFrontmost();
        if (!frontmost) return std::nullopt;
        accessible = frontmost->window;
    } else {
        accessible = handle->accessible([this] { return state_->arm(); });
        if (!accessible) return std::nullopt;
    }

    switch (attribute) {
    case ElementAttribute::focusedElement: {
        Accessible focused = state_->focusedIn(accessible.get());
        if (!focused) return std::nullopt;
        return ElementRef(AtSpiElement::of(std::move(focused)));
    }
    case ElementAttribute::selectedText: {
        auto text = state_->selectedText(accessible.get());
        if (!text) return std::nullopt;
        return std::move(*text);
    }
    case ElementAttribute::children: {
        auto count = state_->childCount(accessible.get());
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
