#pragma once

#include <optional>
#include <string>

// What harkline asks of the operating system besides speech: its version, the user's
// locale, the names of locales, and whether speech recognition is allowed. Linux/ holds
// the real backend, Testing/ a fixed double.

namespace harkline {

struct OperatingSystemVersion {
    int major = 0;
    int minor = 0;
    int patch = 0;
    bool operator==(const OperatingSystemVersion&) const = default;
};

// Whether this user may have speech recognised.
enum class SpeechAuthorizationStatus {
    notDetermined,
    denied,
    restricted,
    authorized,
};

// Safe to call from any thread.
class SystemInfo {
public:
    virtual ~SystemInfo() = default;

    virtual OperatingSystemVersion operatingSystemVersion() const = 0;
    // Only read, never requested from the user.
    virtual SpeechAuthorizationStatus speechAuthorizationStatus() const = 0;
    // The user's current locale as an identifier, e.g. "en-US".
    virtual std::string currentLocaleIdentifier() const = 0;
    // A locale's name for itself, in its own language ("English (United States)",
    // "中文（中国）"); none when there is no name for it.
    virtual std::optional<std::string> localeSelfName(const std::string& identifier) const = 0;
};

}  // namespace harkline
