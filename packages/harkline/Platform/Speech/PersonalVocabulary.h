#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli-frame/Logging/Logger.h"

namespace harkline {

// The names, products and jargon a user dictates that no model knows: one phrase a line,
// words separated by spaces, optionally followed by a boost (`Tessaryn :2.5`, a positive
// number after a colon, how strongly the phrase is preferred; without one the engine's
// default). Blank lines are nothing. A line that is no phrase is skipped with an INFO log
// line naming it, so that one slip never costs the user the rest of the file, nor a
// dictation: text that is not UTF-8, a boost that is not a positive number or stands
// anywhere but last, a "/" (the engine's own phrase separator), a line longer than
// `longestLine` bytes.
class PersonalVocabulary {
public:
    struct Phrase {
        std::string text;  // words separated by one space
        std::optional<float> boost;

        bool operator==(const Phrase&) const = default;
    };

    static constexpr std::size_t longestLine = 256;

    PersonalVocabulary() = default;
    static PersonalVocabulary parse(std::string_view fileText, const cli::Logger& logger);

    const std::vector<Phrase>& phrases() const { return phrases_; }
    std::size_t skippedLines() const { return skippedLines_; }

private:
    std::vector<Phrase> phrases_;
    std::size_t skippedLines_ = 0;
};

}  // namespace harkline
