#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "harkline/Platform/System/SystemInfo.h"

namespace harkline {

// The operating system as Linux tells it: the kernel's release (uname) as the version,
// the POSIX locale variables for the current locale, ICU for locale names (loaded only when
// a name is asked for: its data would otherwise cost every start). Linux has no
// per-user permission for speech recognition: it counts as authorized whenever the
// speech engine may be used, which the caller decides (`engineUsable`).
class LinuxSystemInfo final : public SystemInfo {
public:
    explicit LinuxSystemInfo(std::function<bool()> engineUsable) : engineUsable_(std::move(engineUsable)) {}

    OperatingSystemVersion operatingSystemVersion() const override;
    SpeechAuthorizationStatus speechAuthorizationStatus() const override;
    // LC_ALL, then LC_MESSAGES, then LANG, the first one set and not empty; "C", "POSIX",
    // none, or a value that is no locale gives "en-US".
    std::string currentLocaleIdentifier() const override;
    // The locale's name in its own language; none where ICU has no data for it or cannot
    // be loaded.
    std::optional<std::string> localeSelfName(const std::string& identifier) const override;

    // "6.1.0-18-amd64" gives 6.1.0, "6.8" gives 6.8.0: the leading numbers, missing ones 0.
    static OperatingSystemVersion parseKernelRelease(std::string_view release);
    // "en_US.UTF-8" and "en_US@euro" give "en-US"; none for "C", "POSIX" and non-locales.
    static std::optional<std::string> localeFromPosixName(std::string_view name);

private:
    std::function<bool()> engineUsable_;
};

}  // namespace harkline
