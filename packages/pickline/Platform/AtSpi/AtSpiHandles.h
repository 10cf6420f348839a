#pragma once

#include <memory>
#include <string>

#include <atspi/atspi.h>

namespace pickline::atspi {

// A reference to an accessible that drops the object's reference when the last copy goes.
using Accessible = std::shared_ptr<AtspiAccessible>;

inline Accessible adopt(AtspiAccessible* accessible) {
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

private:
    GError* error_ = nullptr;
};

// Takes ownership of a string libatspi returned.
inline std::string takeString(gchar* text) {
    if (text == nullptr) return {};
    std::string copy(text);
    g_free(text);
    return copy;
}

}  // namespace pickline::atspi
