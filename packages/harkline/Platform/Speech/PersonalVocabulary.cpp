#include "harkline/Platform/Speech/PersonalVocabulary.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace harkline {
namespace {

bool isUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        auto lead = static_cast<unsigned char>(text[at]);
        std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || at + length > text.size()) return false;
        for (std::size_t index = 1; index < length; ++index)
            if ((static_cast<unsigned char>(text[at + index]) & 0xC0) != 0x80) return false;
        at += length;
    }
    return true;
}

std::vector<std::string_view> wordsOf(std::string_view line) {
    std::vector<std::string_view> words;
    for (std::size_t at = 0; at < line.size();) {
        auto start = line.find_first_not_of(" \t", at);
        if (start == std::string_view::npos) break;
        auto end = std::min(line.find_first_of(" \t", start), line.size());
        words.push_back(line.substr(start, end - start));
        at = end;
    }
    return words;
}

std::optional<float> boostOf(std::string_view word) {
    float boost = 0;
    auto number = word.substr(1);
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), boost);
    if (error != std::errc() || end != number.data() + number.size() || !std::isfinite(boost) || boost <= 0)
        return std::nullopt;
    return boost;
}

// Why the line is no phrase, or none when `phrase` holds it.
std::optional<std::string> read(std::string_view line, PersonalVocabulary::Phrase& phrase) {
    if (line.size() > PersonalVocabulary::longestLine)
        return "长于 " + std::to_string(PersonalVocabulary::longestLine) + " 字节";
    if (!isUtf8(line)) return std::string("不是 UTF-8 文本");
    if (line.find('/') != std::string_view::npos) return std::string("含有 \"/\"");
    auto words = wordsOf(line);
    if (words.back().starts_with(':')) {
        phrase.boost = boostOf(words.back());
        if (!phrase.boost) return std::string("权重不是正数");
        words.pop_back();
    }
    if (words.empty()) return std::string("只有权重，没有短语");
    for (auto word : words) {
        if (word.starts_with(':')) return std::string("权重只能写在行尾");
        if (!phrase.text.empty()) phrase.text += ' ';
        phrase.text += word;
    }
    return std::nullopt;
}

}  // namespace

PersonalVocabulary PersonalVocabulary::parse(std::string_view fileText, const cli::Logger& logger) {
    PersonalVocabulary vocabulary;
    std::size_t lineNumber = 0;
    for (std::size_t at = 0; at < fileText.size();) {
        auto end = std::min(fileText.find('\n', at), fileText.size());
        auto line = fileText.substr(at, end - at);
        at = end + 1;
        ++lineNumber;
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
        Phrase phrase;
        if (auto problem = read(line, phrase)) {
            ++vocabulary.skippedLines_;
            // Text that is not UTF-8 stays out of the log, which is UTF-8.
            logger.info("个人词表第 " + std::to_string(lineNumber) + " 行已跳过（" + *problem + "）" +
                        (isUtf8(line) ? ": " + std::string(line) : std::string()));
            continue;
        }
        vocabulary.phrases_.push_back(std::move(phrase));
    }
    return vocabulary;
}

}  // namespace harkline
