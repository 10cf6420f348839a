#include "harkline/Platform/System/Linux/LinuxSystemInfo.h"

#include <cctype>
#include <climits>
#include <cstdlib>

#include <sys/utsname.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include "harkline/Platform/Speech/LocaleIdentifier.h"

namespace harkline {

OperatingSystemVersion LinuxSystemInfo::parseKernelRelease(std::string_view release) {
    int parts[3] = {0, 0, 0};
    std::size_t position = 0;
    for (int index = 0; index < 3; ++index) {
        if (index > 0) {
            if (position >= release.size() || release[position] != '.') break;
            ++position;
        }
        long long value = 0;
        std::size_t start = position;
        while (position < release.size() && std::isdigit(static_cast<unsigned char>(release[position]))) {
            value = std::min<long long>(value * 10 + (release[position] - '0'), INT_MAX);
            ++position;
        }
        if (position == start) break;
        parts[index] = static_cast<int>(value);
    }
    return {parts[0], parts[1], parts[2]};
}

std::optional<std::string> LinuxSystemInfo::localeFromPosixName(std::string_view name) {
    name = name.substr(0, name.find_first_of(".@"));
    if (name == "C" || name == "POSIX") return std::nullopt;
    return canonicalLocaleIdentifier(name);
}

OperatingSystemVersion LinuxSystemInfo::operatingSystemVersion() const {
    utsname names{};
    if (::uname(&names) != 0) return {};
    return parseKernelRelease(names.release);
}

SpeechAuthorizationStatus LinuxSystemInfo::speechAuthorizationStatus() const {
    return engineUsable_() ? SpeechAuthorizationStatus::authorized : SpeechAuthorizationStatus::notDetermined;
}

std::string LinuxSystemInfo::currentLocaleIdentifier() const {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (!value || !*value) continue;
        return localeFromPosixName(value).value_or("en-US");
    }
    return "en-US";
}

std::optional<std::string> LinuxSystemInfo::localeSelfName(const std::string& identifier) const {
    UErrorCode status = U_ZERO_ERROR;
    auto locale = icu::Locale::forLanguageTag(identifier, status);
    if (U_FAILURE(status) || locale.isBogus() || std::string_view(locale.getLanguage()).empty()) return std::nullopt;
    // Without data for the language, ICU echoes its code: that is no name.
    icu::UnicodeString language;
    locale.getDisplayLanguage(locale, language);
    if (language == icu::UnicodeString::fromUTF8(locale.getLanguage())) return std::nullopt;
    icu::UnicodeString name;
    locale.getDisplayName(locale, name);
    std::string result;
    name.toUTF8String(result);
    return result;
}

}  // namespace harkline
