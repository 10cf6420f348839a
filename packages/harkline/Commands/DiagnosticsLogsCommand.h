#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli-frame/Commands/CLIExecutableCommand.h"
#include "cli-frame/Options/CommandArguments.h"
#include "harkline/Commands/CommandContext.h"

namespace harkline {

struct DiagnosticsLogPayload {
    std::string path;
    std::optional<std::string> tail;
};
void to_json(cli::Json& json, const DiagnosticsLogPayload& payload);

// Reports the log file's path and, with --tail N, its last N line-feed-separated pieces.
class DiagnosticsLogsCommand : public cli::CLIExecutableCommand {
public:
    DiagnosticsLogsCommand(CommandContext context, const cli::CommandArguments& arguments);
    int run() override;

    // "+5" → 5, "-3" → 0; empty, malformed or out-of-range text → absent.
    static std::optional<std::int64_t> parseTailCount(const std::optional<std::string>& text);

private:
    CommandContext context_;
    std::optional<std::int64_t> tailCount_;
};

}  // namespace harkline
