#pragma once

#include <string>
#include <string_view>

namespace cli {

// Returns `text` with every byte sequence that is not valid UTF-8 replaced by U+FFFD,
// the way text decoded from arbitrary bytes is repaired before it is written out.
std::string repairUtf8(std::string_view text);

bool isValidUtf8(std::string_view text);

}  // namespace cli
