#pragma once

#include <string_view>

#include "harkline/Transcription/TextFormatter.h"

namespace harkline {

// The formatting that needs no model. Engines that know no case write English in capitals
// ("GO FORWARD TEN METERS"); such text becomes lower case. Text in lower case only (or just
// made so) gets the pronoun "I" capitalised; text that already mixes cases was cased by
// someone who knew better and keeps its letters. An English word and a CJK character that
// touch get a space between them, as a typist writes them. Nothing else changes: no
// punctuation is added and no sentence start is guessed.
class CasingAndSpacingFormatter final : public TextFormatter {
public:
    std::string format(std::string text) const override;

    // The steps, for formatters that add a model's work between them.
    // Whether the text has both upper- and lower-case English letters.
    static bool mixesCases(std::string_view text);
    // English in capitals only becomes lower case; text that mixes cases is kept.
    static std::string withoutAllCapitals(std::string text);
    // Whether the text has a Han ideograph, kana or Hangul syllable.
    static bool containsCjk(std::string_view text);
    // A space between an English letter and a CJK character that touch.
    static std::string spacedBetweenScripts(std::string_view text);
    // "i" as a word of its own (or before an apostrophe) becomes "I".
    static void capitalisePronoun(std::string& text);
};

}  // namespace harkline
