#include "pickline/Detection/TextTruncation.h"

#include <memory>

#include <unicode/ubrk.h>
#include <unicode/utext.h>

namespace pickline {

std::string truncateToCharacters(const std::string& text, std::size_t limit) {
    // Fewer bytes than the limit means fewer characters: nothing to segment.
    if (text.size() <= limit) return text;

    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UText, decltype(&utext_close)> utf8(
        utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status), &utext_close);
    std::unique_ptr<UBreakIterator, decltype(&ubrk_close)> characters(
        ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status), &ubrk_close);
    if (U_FAILURE(status)) return text;
    ubrk_setUText(characters.get(), utf8.get(), &status);
    if (U_FAILURE(status)) return text;

    // Boundaries are byte offsets into the UTF-8 text.
    ubrk_first(characters.get());
    std::size_t counted = 0;
    int32_t boundary = 0;
    while (counted < limit) {
        int32_t next = ubrk_next(characters.get());
        if (next == UBRK_DONE) return text;
        boundary = next;
        ++counted;
    }
    return text.substr(0, static_cast<std::size_t>(boundary));
}

}  // namespace pickline
