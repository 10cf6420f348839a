#include "harkline/Platform/Speech/LocaleIdentifier.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace harkline {
namespace {

bool allOf(std::string_view text, int (*predicate)(int)) {
    return std::all_of(text.begin(), text.end(), [predicate](char c) { return predicate(static_cast<unsigned char>(c)) != 0; });
}

std::string mapped(std::string_view text, int (*transform)(int)) {
    std::string result;
    for (char c : text) result.push_back(static_cast<char>(transform(static_cast<unsigned char>(c))));
    return result;
}

}  // namespace

std::optional<std::string> canonicalLocaleIdentifier(std::string_view identifier) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= identifier.size()) {
        auto end = identifier.find_first_of("-_", start);
        if (end == std::string_view::npos) end = identifier.size();
        parts.push_back(identifier.substr(start, end - start));
        start = end + 1;
    }
    if (parts.empty() || parts.size() > 3) return std::nullopt;

    auto& language = parts[0];
    if (language.size() < 2 || language.size() > 3 || !allOf(language, std::isalpha)) return std::nullopt;
    std::string result = mapped(language, std::tolower);

    std::size_t next = 1;
    if (next < parts.size() && parts[next].size() == 4 && allOf(parts[next], std::isalpha)) {
        auto script = mapped(parts[next], std::tolower);
        script[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(script[0])));
        result += "-" + script;
        ++next;
    }
    if (next < parts.size()) {
        auto& region = parts[next];
        if (region.size() == 2 && allOf(region, std::isalpha))
            result += "-" + mapped(region, std::toupper);
        else if (region.size() == 3 && allOf(region, std::isdigit))
            result += "-" + std::string(region);
        else
            return std::nullopt;
        ++next;
    }
    if (next != parts.size()) return std::nullopt;
    return result;
}

std::string_view localeLanguage(std::string_view canonicalIdentifier) {
    return canonicalIdentifier.substr(0, canonicalIdentifier.find('-'));
}

}  // namespace harkline
