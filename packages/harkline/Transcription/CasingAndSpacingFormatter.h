#pragma once

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
};

}  // namespace harkline
