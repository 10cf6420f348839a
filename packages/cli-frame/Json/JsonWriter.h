#pragma once

#include <stdexcept>
#include <string>

#include "cli-frame/Json/Json.h"

namespace cli {

// Thrown when a value cannot be written as JSON (a NaN or infinite number).
class JsonEncodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct JsonWriteOptions {
    // Files read by other processes escape "/" as "\/"; standard-output lines do not.
    bool escapeSlashes = false;
    // Object keys in byte order instead of insertion order (pickline's line).
    bool sortKeys = false;
};

// Compact JSON: no spaces, keys in insertion order unless sorted, UTF-8 written as is
// (invalid sequences repaired to U+FFFD), numbers in their shortest round-trip form.
std::string writeJson(const Json& value, JsonWriteOptions options = {});

}  // namespace cli
