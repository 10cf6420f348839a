#pragma once

#include <cstddef>
#include <string_view>

namespace harkline {

// Characters as a reader counts them in UTF-8 text: code points, except that combining
// marks, variation selectors and zero-width joiners (and what a joiner joins) belong to
// the character before them. An approximation of grapheme clusters that is exact for
// the scripts transcription produces.
std::size_t userPerceivedCharacterCount(std::string_view text);

}  // namespace harkline
