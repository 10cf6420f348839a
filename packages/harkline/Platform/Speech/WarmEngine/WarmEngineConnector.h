#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>

#include "harkline/Platform/Speech/WarmEngine/FrameConnection.h"

namespace harkline {

// Finds the user's warm engine by its socket in the runtime folder, and starts it when
// none listens there. Only an engine of this user is spoken to: the folder, the socket
// and the peer of the connection (its credentials) must all be the user's.
class WarmEngineConnector {
public:
    // A connection that passed the handshake, or why there is none.
    using Outcome = std::variant<FrameConnection, std::string>;

    WarmEngineConnector(std::optional<std::filesystem::path> runtimeFolder, std::filesystem::path program,
                        std::optional<std::string> logPath)
        : runtimeFolder_(std::move(runtimeFolder)), program_(std::move(program)), logPath_(std::move(logPath)) {}
    // $XDG_RUNTIME_DIR, this program, and the log this process writes.
    static WarmEngineConnector forThisUser(std::optional<std::string> logPath);

    // Connects, starting an engine first when none listens and `startIfAbsent`.
    Outcome connect(bool startIfAbsent) const;

private:
    // No engine answers there (none listens, or it was ending), so one may be started.
    struct Absent {};
    // Connects and greets.
    std::variant<FrameConnection, Absent, std::string> attempt(const std::filesystem::path& socket) const;
    std::optional<std::string> start(const std::filesystem::path& socket) const;

    std::optional<std::filesystem::path> runtimeFolder_;
    std::filesystem::path program_;
    std::optional<std::string> logPath_;
};

}  // namespace harkline
