#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace harkline {

// The usual spelling of a locale identifier: "en_us", "EN-us" and "en-US" all give
// "en-US"; a script subtag is title-cased ("zh-hans-cn" gives "zh-Hans-CN"). None for
// anything that is not language[-Script][-REGION] made of letters (region: 2 letters
// or 3 digits), so the result is always safe as a folder name.
std::optional<std::string> canonicalLocaleIdentifier(std::string_view identifier);

// The language subtag of a canonical identifier ("en" for "en-US").
std::string_view localeLanguage(std::string_view canonicalIdentifier);

}  // namespace harkline
