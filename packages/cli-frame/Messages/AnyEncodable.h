#pragma once

#include <functional>
#include <utility>

#include "cli-frame/Json/Json.h"

namespace cli {

// Carries a command's own data object in a payload, written in place of the field
// exactly as the value writes itself. Any type with a `to_json(cli::Json&, const T&)`
// overload (or that cli::Json already knows) can be wrapped.
class AnyEncodable {
public:
    template <typename Value>
        requires(!std::is_same_v<std::decay_t<Value>, AnyEncodable>)
    AnyEncodable(Value value)  // NOLINT(google-explicit-constructor): wrapping is the point
        : encodeHandler_([stored = std::move(value)] { return Json(stored); }) {}

    // May throw when the wrapped value cannot encode itself.
    Json encode() const { return encodeHandler_(); }

private:
    std::function<Json()> encodeHandler_;
};

}  // namespace cli
