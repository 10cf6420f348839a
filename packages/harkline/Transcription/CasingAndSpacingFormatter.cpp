#include "harkline/Transcription/CasingAndSpacingFormatter.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace harkline {
namespace {

enum class Script { latinLetter, cjk, other };

bool isAsciiUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool isAsciiLower(char c) { return c >= 'a' && c <= 'z'; }
bool isAsciiAlphanumeric(char c) { return isAsciiUpper(c) || isAsciiLower(c) || (c >= '0' && c <= '9'); }

// Han ideographs, kana and Hangul syllables: the characters a typist sets off from an
// English word. CJK punctuation and full-width forms are not among them.
bool isCjk(std::uint32_t codePoint) {
    return (codePoint >= 0x3040 && codePoint <= 0x30FF) || (codePoint >= 0x3400 && codePoint <= 0x4DBF) ||
           (codePoint >= 0x4E00 && codePoint <= 0x9FFF) || (codePoint >= 0xAC00 && codePoint <= 0xD7AF) ||
           (codePoint >= 0xF900 && codePoint <= 0xFAFF) || (codePoint >= 0x20000 && codePoint <= 0x3FFFF);
}

// The length of the UTF-8 sequence at `at` and its script. A byte that starts no valid
// sequence counts as one character of no script, so damaged text passes through unchanged.
std::size_t nextCharacter(std::string_view text, std::size_t at, Script& script) {
    auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
        script = isAsciiUpper(text[at]) || isAsciiLower(text[at]) ? Script::latinLetter : Script::other;
        return 1;
    }
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    std::uint32_t codePoint = length == 4 ? lead & 0x07u : length == 3 ? lead & 0x0Fu : lead & 0x1Fu;
    if (length == 1 || at + length > text.size()) {
        script = Script::other;
        return 1;
    }
    for (std::size_t index = 1; index < length; ++index) {
        auto continuation = static_cast<unsigned char>(text[at + index]);
        if ((continuation & 0xC0) != 0x80) {
            script = Script::other;
            return 1;
        }
        codePoint = (codePoint << 6) | (continuation & 0x3Fu);
    }
    script = isCjk(codePoint) ? Script::cjk : Script::other;
    return length;
}

void lowerAscii(std::string& text) {
    for (char& c : text)
        if (isAsciiUpper(c)) c = static_cast<char>(c - 'A' + 'a');
}

}  // namespace

bool CasingAndSpacingFormatter::mixesCases(std::string_view text) {
    bool hasUpper = false;
    bool hasLower = false;
    for (char c : text) {
        hasUpper = hasUpper || isAsciiUpper(c);
        hasLower = hasLower || isAsciiLower(c);
    }
    return hasUpper && hasLower;
}

std::string CasingAndSpacingFormatter::withoutAllCapitals(std::string text) {
    if (!mixesCases(text)) lowerAscii(text);
    return text;
}

bool CasingAndSpacingFormatter::containsCjk(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        Script script;
        at += nextCharacter(text, at, script);
        if (script == Script::cjk) return true;
    }
    return false;
}

std::string CasingAndSpacingFormatter::spacedBetweenScripts(std::string_view text) {
    std::string spaced;
    spaced.reserve(text.size() + 8);
    auto previous = Script::other;
    for (std::size_t at = 0; at < text.size();) {
        Script script;
        auto length = nextCharacter(text, at, script);
        if ((previous == Script::latinLetter && script == Script::cjk) ||
            (previous == Script::cjk && script == Script::latinLetter))
            spaced.push_back(' ');
        spaced.append(text, at, length);
        previous = script;
        at += length;
    }
    return spaced;
}

// "i" alone, or before an apostrophe ("i'm", "i'll"), is the pronoun.
void CasingAndSpacingFormatter::capitalisePronoun(std::string& text) {
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != 'i') continue;
        bool startsWord = at == 0 || (!isAsciiAlphanumeric(text[at - 1]) && text[at - 1] != '\'');
        bool endsWord = at + 1 == text.size() || !isAsciiAlphanumeric(text[at + 1]);
        if (startsWord && endsWord) text[at] = 'I';
    }
}

std::string CasingAndSpacingFormatter::format(std::string text) const {
    bool cased = mixesCases(text);
    if (!cased) lowerAscii(text);
    auto formatted = spacedBetweenScripts(text);
    if (!cased) capitalisePronoun(formatted);
    return formatted;
}

}  // namespace harkline
