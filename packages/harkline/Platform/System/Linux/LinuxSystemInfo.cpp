#include "harkline/Platform/System/Linux/LinuxSystemInfo.h"

#include <cctype>
#include <climits>
#include <cstdlib>

#include <optional>
#include <vector>

#include <sys/utsname.h>
#include <unicode/uloc.h>
#include <unicode/ustring.h>
#include <unicode/uvernum.h>

#include "harkline/Platform/Linux/SharedLibrary.h"
#include "harkline/Platform/Speech/LocaleIdentifier.h"

// ICU's headers rename each function after ICU's major version (uloc_getDisplayName_72):
// the expanded name is the one the library exports.
#define HARKLINE_ICU_NAME_TEXT(name) #name
#define HARKLINE_ICU_NAME(name) HARKLINE_ICU_NAME_TEXT(name)

namespace harkline {
namespace {

// The few ICU functions that name locales, from the ICU these headers belong to.
struct IcuLocaleFunctions {
    decltype(&::uloc_forLanguageTag) forLanguageTag;
    decltype(&::uloc_getLanguage) getLanguage;
    decltype(&::uloc_getDisplayLanguage) getDisplayLanguage;
    decltype(&::uloc_getDisplayName) getDisplayName;
    decltype(&::u_strToUTF8) toUTF8;

    // Null when ICU cannot be loaded.
    static const IcuLocaleFunctions* get() {
        static const std::optional<IcuLocaleFunctions> functions = []() -> std::optional<IcuLocaleFunctions> {
            try {
                static const SharedLibrary library("libicuuc.so." U_ICU_VERSION_SHORT,
                                                   "Debian package libicu" U_ICU_VERSION_SHORT);
                IcuLocaleFunctions loaded{};
                library.bind(loaded.forLanguageTag, HARKLINE_ICU_NAME(uloc_forLanguageTag));
                library.bind(loaded.getLanguage, HARKLINE_ICU_NAME(uloc_getLanguage));
                library.bind(loaded.getDisplayLanguage, HARKLINE_ICU_NAME(uloc_getDisplayLanguage));
                library.bind(loaded.getDisplayName, HARKLINE_ICU_NAME(uloc_getDisplayName));
                library.bind(loaded.toUTF8, HARKLINE_ICU_NAME(u_strToUTF8));
                return loaded;
            } catch (const SharedLibraryError&) {
                return std::nullopt;
            }
        }();
        return functions ? &*functions : nullptr;
    }

    // A display text (UTF-16, as ICU writes it) of `locale` in `locale` itself, in UTF-8.
    template <typename Display>
    std::optional<std::string> displayed(Display display, const char* locale) const {
        std::vector<UChar> text(64);
        for (int attempt = 0; attempt < 2; ++attempt) {
            UErrorCode status = U_ZERO_ERROR;
            const int32_t length = display(locale, locale, text.data(), static_cast<int32_t>(text.size()), &status);
            if (status == U_BUFFER_OVERFLOW_ERROR && length > 0) {
                text.resize(static_cast<std::size_t>(length) + 1);
                continue;
            }
            if (U_FAILURE(status)) return std::nullopt;
            std::string utf8(static_cast<std::size_t>(length) * 3 + 1, '\0');
            int32_t written = 0;
            status = U_ZERO_ERROR;
            toUTF8(utf8.data(), static_cast<int32_t>(utf8.size()), &written, text.data(), length, &status);
            if (U_FAILURE(status)) return std::nullopt;
            utf8.resize(static_cast<std::size_t>(written));
            return utf8;
        }
        return std::nullopt;
    }
};

}  // namespace

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
    const IcuLocaleFunctions* icu = IcuLocaleFunctions::get();
    if (icu == nullptr) return std::nullopt;
    char locale[ULOC_FULLNAME_CAPACITY] = {};
    char language[ULOC_LANG_CAPACITY] = {};
    int32_t parsed = 0;
    UErrorCode status = U_ZERO_ERROR;
    icu->forLanguageTag(identifier.c_str(), locale, sizeof locale - 1, &parsed, &status);
    // A tag ICU reads only in part is no tag.
    if (U_FAILURE(status) || parsed != static_cast<int32_t>(identifier.size())) return std::nullopt;
    icu->getLanguage(locale, language, sizeof language - 1, &status);
    if (U_FAILURE(status) || language[0] == '\0') return std::nullopt;
    // Without data for the language, ICU echoes its code: that is no name.
    if (icu->displayed(icu->getDisplayLanguage, locale).value_or(language) == language) return std::nullopt;
    return icu->displayed(icu->getDisplayName, locale);
}

}  // namespace harkline
