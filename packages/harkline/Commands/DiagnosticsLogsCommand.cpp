#include "harkline/Commands/DiagnosticsLogsCommand.h"

#include <algorithm>
#include <charconv>

#include "harkline/Diagnostics/LogTail.h"

namespace harkline {

void to_json(cli::Json& json, const DiagnosticsLogPayload& payload) {
    json = cli::Json::object();
    json["path"] = payload.path;
    if (payload.tail) json["tail"] = *payload.tail;
}

DiagnosticsLogsCommand::DiagnosticsLogsCommand(CommandContext context, const cli::CommandArguments& arguments)
    : context_(std::move(context)), tailCount_(parseTailCount(arguments.value("--tail"))) {}

std::optional<std::int64_t> DiagnosticsLogsCommand::parseTailCount(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    // One optional sign, then digits only.
    std::string_view digits = *text;
    if (digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty() || digits.front() == '+' || (digits.front() == '-' && text->front() == '+')) return std::nullopt;
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return std::max<std::int64_t>(value, 0);
}

int DiagnosticsLogsCommand::run() {
    if (!context_.logFilePath) {
        context_.emitter.emitError("apple_logs_unavailable", "未配置日志路径");
        return 0;
    }
    DiagnosticsLogPayload payload{*context_.logFilePath, std::nullopt};
    if (tailCount_ && *tailCount_ >= 1) payload.tail = readLogTail(payload.path, static_cast<std::uint64_t>(*tailCount_));
    context_.emitter.emitStatus({
        .stage = "log-path",
        .data = payload,
    });
    return 0;
}

}  // namespace harkline
