#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "cli-frame/Json/Json.h"

namespace harkline {

struct EnvSnapshot {
    std::string macOSVersion;
    std::string speechApi;
    std::string authorization;
    std::optional<std::string> reason;
    // The speech gate in front of the engines: "available", or "unavailable" with the
    // reason in speechGateProblem (transcription then goes on ungated). Absent in
    // sections written before the gate existed.
    std::optional<std::string> speechGate;
    std::optional<std::string> speechGateProblem;
    // The personal vocabulary as a transcription would read it now: its phrases and the
    // lines skipped (both 0 without the file). Absent where no vocabulary is read, and in
    // sections written before it existed.
    std::optional<std::int64_t> vocabularyPhrases;
    std::optional<std::int64_t> vocabularySkippedLines;
    // Installed locales whose formatting model is missing or damaged -> why (they still
    // transcribe, their finals unpunctuated). Absent when there are none.
    std::optional<std::map<std::string, std::string>> formattingProblems;
    bool operator==(const EnvSnapshot&) const = default;
};

struct AssetsSnapshot {
    std::string locale;
    std::string status;
    bool installed = false;
    // As assets.status reports them; absent without a formatting model.
    std::optional<std::string> formattingModel;
    std::optional<std::string> formattingProblem;
    bool operator==(const AssetsSnapshot&) const = default;
};

struct DownloadSnapshot {
    std::string locale;
    double progress = 0;
    std::string status;
    double updatedAt = 0;  // seconds since 2001-01-01T00:00:00Z
    bool operator==(const DownloadSnapshot&) const = default;
};

// What harkline remembers between processes. A section that is present must be whole.
struct DiagnosticsSnapshot {
    std::optional<EnvSnapshot> env;
    std::optional<AssetsSnapshot> assets;
    std::optional<DownloadSnapshot> download;
    std::optional<std::string> lastLogPath;
    bool operator==(const DiagnosticsSnapshot&) const = default;
};

void to_json(cli::Json& json, const EnvSnapshot& value);
void to_json(cli::Json& json, const AssetsSnapshot& value);
void to_json(cli::Json& json, const DownloadSnapshot& value);
void to_json(cli::Json& json, const DiagnosticsSnapshot& value);

// Strict reading: a missing or mistyped key of a present section throws.
DiagnosticsSnapshot decodeDiagnosticsSnapshot(const cli::Json& json);

// Seconds since 2001-01-01T00:00:00Z, the time base of the stored timestamps.
double secondsSinceReferenceDate();

}  // namespace harkline
