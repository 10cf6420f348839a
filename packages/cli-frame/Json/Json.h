#pragma once

#include <nlohmann/json.hpp>

namespace cli {

// JSON values keep their keys in insertion order, so objects come out in the
// order their fields are declared.
using Json = nlohmann::ordered_json;

}  // namespace cli
