#pragma once

#include "cli-frame/Commands/CLIExecutableCommand.h"
#include "harkline/Commands/CommandContext.h"
#include "harkline/Diagnostics/DiagnosticsSnapshot.h"

namespace harkline {

// Whether this machine can transcribe: system version, speech engine, authorization. One
// status line ("env-ok" or "env-unsupported" with a code), also recorded in the
// diagnostics. Never asks the user anything and never fails.
class EnvCheckCommand : public cli::CLIExecutableCommand {
public:
    explicit EnvCheckCommand(CommandContext context) : context_(std::move(context)) {}
    int run() override;

    // "granted", "denied", "restricted", "not_determined" or "unknown".
    static std::string authorizationText(SpeechAuthorizationStatus status);

private:
    CommandContext context_;
};

}  // namespace harkline
