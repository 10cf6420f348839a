#pragma once

#include <map>

#include "harkline/Platform/System/SystemInfo.h"

namespace harkline {

// A SystemInfo that answers what a test set.
class FixedSystemInfo final : public SystemInfo {
public:
    struct Answers {
        OperatingSystemVersion version{6, 1, 0};
        SpeechAuthorizationStatus authorization = SpeechAuthorizationStatus::authorized;
        std::string currentLocale = "en-US";
        std::map<std::string, std::string> selfNames;
    };

    explicit FixedSystemInfo(Answers answers) : answers_(std::move(answers)) {}

    OperatingSystemVersion operatingSystemVersion() const override { return answers_.version; }
    SpeechAuthorizationStatus speechAuthorizationStatus() const override { return answers_.authorization; }
    std::string currentLocaleIdentifier() const override { return answers_.currentLocale; }
    std::optional<std::string> localeSelfName(const std::string& identifier) const override {
        auto found = answers_.selfNames.find(identifier);
        if (found == answers_.selfNames.end()) return std::nullopt;
        return found->second;
    }

private:
    Answers answers_;
};

}  // namespace harkline
