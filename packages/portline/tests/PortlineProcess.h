#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli-frame/Json/Json.h"
#include "test-support/ChildProcess.h"
#include "test-support/SoundServer.h"
#include "test-support/TemporaryHome.h"

namespace portline::testing {

using Environment = std::map<std::string, std::optional<std::string>>;

// A private home and a private sound server for the portline binary, with pactl as witness.
class PortlineProcess : public ::testing::Test {
protected:
    Environment environment(const Environment& extra = {}) const {
        Environment result = home_.environment();
        for (const auto& [name, value] : server_.environment()) result[name] = value;
        for (const auto& [name, value] : extra) result[name] = value;
        return result;
    }

    testsupport::ProcessResult run(std::vector<std::string> arguments, const Environment& extra = {}) const {
        return testsupport::runProcess(PORTLINE_BINARY, {std::move(arguments), environment(extra)});
    }

    // The one JSON line a one-shot command writes.
    static cli::Json onlyLine(const testsupport::ProcessResult& result) {
        const auto lines = result.lines();
        EXPECT_EQ(lines.size(), 1u) << result.standardOutput;
        return lines.empty() ? cli::Json() : cli::Json::parse(lines.front());
    }

    std::string pactl(const std::vector<std::string>& arguments) const {
        const auto result = server_.pactl(arguments);
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        std::string text = result.standardOutput;
        while (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }

    testsupport::TemporaryHome home_;
    testsupport::SoundServer server_;
};

}  // namespace portline::testing
