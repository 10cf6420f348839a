#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli-frame/Json/Json.h"
#include "test-support/ChildProcess.h"
#include "test-support/TemporaryHome.h"

// What the process tests read of a harkline run: its JSON lines and its log.
namespace harkline::testing_support {

inline std::filesystem::path harklineLogPath(const testsupport::TemporaryHome& home) {
    return home.stateHome() / "tessaryn" / "harkline.log";
}
inline std::string harklineLog(const testsupport::TemporaryHome& home) { return testsupport::readFile(harklineLogPath(home)); }

inline cli::Json payloadOf(const std::string& line) { return cli::Json::parse(line).at("payload"); }
inline cli::Json lastPayload(const testsupport::ProcessResult& result) {
    auto lines = result.lines();
    return lines.empty() ? cli::Json() : payloadOf(lines.back());
}

inline std::vector<cli::Json> resultPayloads(const testsupport::ProcessResult& result) {
    std::vector<cli::Json> payloads;
    for (const auto& line : result.lines())
        if (auto message = cli::Json::parse(line); message.at("type") == "result") payloads.push_back(message.at("payload"));
    return payloads;
}
// The results of a transcription that ended well, after checking the lines around them:
// counts that only grow, and a closing line that repeats the last one (none without a
// result), which is `handedOn` where the caller knows what was handed on.
inline std::vector<cli::Json> transcriptionResults(const testsupport::ProcessResult& run,
                                                   std::optional<std::int64_t> handedOn = std::nullopt) {
    EXPECT_EQ(run.exitStatus, 0) << run.standardOutput;
    auto results = resultPayloads(run);
    std::int64_t count = 0;
    for (const auto& result : results) {
        EXPECT_GE(result.at("bytesProcessed").get<std::int64_t>(), count) << result.dump();
        count = result.at("bytesProcessed").get<std::int64_t>();
    }
    auto closing = lastPayload(run);
    EXPECT_EQ(closing.value("stage", ""), "input-stream-closed") << run.standardOutput;
    EXPECT_EQ(closing.value("bytesProcessed", std::int64_t{-1}), count);
    EXPECT_EQ(count, handedOn.value_or(count));
    return results;
}
inline std::vector<std::string> finalTexts(const std::vector<cli::Json>& payloads) {
    std::vector<std::string> texts;
    for (const auto& payload : payloads)
        if (payload.at("isFinal").get<bool>()) texts.push_back(payload.at("text").get<std::string>());
    return texts;
}

inline std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t found = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
    return found;
}

// scripts/speech-test-model, which fabricates models and spells audio for them.
inline testsupport::ProcessResult runSpeechTestModel(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), SPEECH_TEST_MODEL_SCRIPT);
    auto result = testsupport::runProcess("/usr/bin/python3", {std::move(arguments), {}}, "", std::chrono::seconds(60));
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    return result;
}

}  // namespace harkline::testing_support
