#pragma once

#include <string>

namespace harkline {

// Turns an engine's final text into the text a person keeps (casing, spacing, and with a
// formatting model punctuation). Text in, text out: it knows nothing of audio or engines.
class TextFormatter {
public:
    virtual ~TextFormatter() = default;

    virtual std::string format(std::string text) const = 0;
};

}  // namespace harkline
