#pragma once

#include <cstddef>
#include <string>

namespace pickline {

// The first `limit` characters of UTF-8 text, counting characters as the user perceives
// them (extended grapheme clusters), so a cut never splits a character or an emoji.
std::string truncateToCharacters(const std::string& text, std::size_t limit);

}  // namespace pickline
