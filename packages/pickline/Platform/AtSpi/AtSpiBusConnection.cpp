#include "pickline/Platform/AtSpi/AtSpiBusConnection.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <dbus/dbus.h>

#include "pickline/Platform/AtSpi/AtSpiHandles.h"
#include "pickline/Platform/AtSpi/BusProbe.h"

namespace pickline::atspi {

AtSpiBusConnection::AtSpiBusConnection(Limits limits)
    : limits_(limits), deadline_(std::chrono::steady_clock::now() + limits.wholeRun) {}

AtSpiBusConnection::~AtSpiBusConnection() {
    if (initialised_) atspi_exit();
}

int AtSpiBusConnection::remainingMilliseconds() const {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

bool AtSpiBusConnection::arm() {
    int left = remainingMilliseconds();
    if (left <= 0) return false;
    int timeout = std::min(left, static_cast<int>(limits_.perCall.count()));
    atspi_set_timeout(timeout, timeout);
    return true;
}

// Asks the session bus for the accessibility bus with our own bounded calls: libatspi
// would wait for the default 25 s on a session bus that does not answer.
std::optional<std::string> AtSpiBusConnection::askAccessibilityBusAddress(const char* sessionBus) {
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

bool AtSpiBusConnection::connect() {
    if (tried_) return connected_;
    tried_ = true;

    const char* sessionBus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (sessionBus == nullptr || *sessionBus == '\0' || std::strstr(sessionBus, "autolaunch:") != nullptr)
        return false;
    auto left = [this] { return std::chrono::milliseconds(remainingMilliseconds()); };
    const char* preset = std::getenv("AT_SPI_BUS_ADDRESS");
    std::string accessibilityBus = preset != nullptr ? preset : "";
    if (accessibilityBus.empty()) {
        if (!busAnswers(sessionBus, left())) return false;
        auto address = askAccessibilityBusAddress(sessionBus);
        if (!address) return false;
        // libatspi connects straight to this address and never asks the session bus itself.
        setenv("AT_SPI_BUS_ADDRESS", address->c_str(), 1);
        accessibilityBus = *address;
    }
    if (!busAnswers(accessibilityBus, left()) || !arm() || atspi_init() > 1) return false;
    initialised_ = true;
    Accessible desktop = adopt(atspi_get_desktop(0));
    if (!desktop || !arm()) return false;
    CallError error;
    int applications = atspi_accessible_get_child_count(desktop.get(), error.out());
    connected_ = !error && applications >= 0;
    return connected_;
}

}  // namespace pickline::atspi
