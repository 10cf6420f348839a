#pragma once

#include <string>
#include <vector>

#include "cli-frame/Json/Json.h"
#include "test-support/ChildProcess.h"
#include "test-support/SoundServer.h"
#include "test-support/TemporaryHome.h"

namespace portline::testing {

using testsupport::Environment;

// A private home and a private sound server for the portline binary, with pactl as witness.
class PortlineProcess : public ::testing::Test {
protected:
    Environment environment(const Environment& extra = {}) const {
        return testsupport::merged({home_.environment(), server_.environment(), extra});
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

    std::string pactl(const std::vector<std::string>& arguments) const { return server_.pactlOutput(arguments); }

    testsupport::TemporaryHome home_;
    testsupport::SoundServer server_;
};

}  // namespace portline::testing
