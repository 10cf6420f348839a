#include "harkline/Platform/Speech/WarmEngine/WarmEngineConnector.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "harkline/Platform/Speech/WarmEngine/WarmEngineProtocol.h"

extern char** environ;

namespace harkline {
namespace {

namespace fs = std::filesystem;
using Clock = FrameConnection::Clock;

std::string errorText(int error) { return std::strerror(error); }

}  // namespace

WarmEngineConnector WarmEngineConnector::forThisUser(std::optional<std::string> logPath) {
    std::optional<fs::path> folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0') folder = runtime;
    std::error_code unknown;
    return WarmEngineConnector(std::move(folder), fs::read_symlink("/proc/self/exe", unknown), std::move(logPath));
}

WarmEngineConnector::Outcome WarmEngineConnector::connect(bool startIfAbsent) const {
    if (!runtimeFolder_) return std::string("there is no runtime folder ($XDG_RUNTIME_DIR is not set)");
    struct stat folder {};
    if (::stat(runtimeFolder_->c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        return "the runtime folder " + runtimeFolder_->string() + " does not exist";
    if (folder.st_uid != ::geteuid()) return "the runtime folder " + runtimeFolder_->string() + " belongs to another user";
    auto socket = *runtimeFolder_ / warmengine::socketName;

    auto first = attempt(socket);
    if (auto* connection = std::get_if<FrameConnection>(&first)) return std::move(*connection);
    if (auto* refusal = std::get_if<std::string>(&first)) return std::move(*refusal);
    if (!startIfAbsent) return std::string("no warm engine is running");
    if (::access(runtimeFolder_->c_str(), W_OK) != 0)
        return "the runtime folder " + runtimeFolder_->string() + " is not writable (" + errorText(errno) + ")";
    if (auto failure = start(socket)) return std::move(*failure);

    // The engine binds its socket before it loads anything; a stale socket is replaced then.
    auto deadline = Clock::now() + warmengine::startDeadline;
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        auto next = attempt(socket);
        if (auto* connection = std::get_if<FrameConnection>(&next)) return std::move(*connection);
        if (auto* refusal = std::get_if<std::string>(&next)) return std::move(*refusal);
    }
    return std::string("no warm engine answered in time");
}

std::variant<FrameConnection, WarmEngineConnector::Absent, std::string> WarmEngineConnector::attempt(
    const fs::path& socket) const {
    struct stat entry {};
    if (::lstat(socket.c_str(), &entry) != 0) return Absent{};
    if (!S_ISSOCK(entry.st_mode)) return socket.string() + " is not a socket";
    if (entry.st_uid != ::geteuid()) return socket.string() + " belongs to another user";

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket.native().size() >= sizeof address.sun_path) return socket.string() + " is too long a socket path";
    std::memcpy(address.sun_path, socket.c_str(), socket.native().size());
    int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0) return "no socket: " + errorText(errno);
    FrameConnection connection(descriptor);
    if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        // Nobody listens (the engine ended and left its socket, or is about to bind), or
        // its queue is full: asked again until the deadline.
        if (errno == ECONNREFUSED || errno == ENOENT || errno == EAGAIN) return Absent{};
        return "cannot connect to " + socket.string() + ": " + errorText(errno);
    }
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid())
        return "the process behind " + socket.string() + " is another user's";

    auto deadline = Clock::now() + warmengine::handshakeDeadline;
    std::optional<Frame> answer;
    if (connection.send({FrameKind::hello, std::string(warmengine::hello)}, deadline)) answer = connection.receive(deadline);
    // An engine that was ending when it took the connection: as good as none.
    if (!answer) return Absent{};
    if (answer->kind != FrameKind::hello || answer->payload != warmengine::hello)
        return "the warm engine is of another version (" + answer->payload.substr(0, 80) + ")";
    return connection;
}

std::optional<std::string> WarmEngineConnector::start(const fs::path& socket) const {
    if (program_.empty()) return std::string("this program's own file is unknown");
    std::vector<std::string> arguments{program_.string(), std::string(warmengine::command), socket.string()};
    if (logPath_) arguments.push_back(*logPath_);
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    // A session of its own, nothing of ours open: the host reading our output must not
    // wait for the engine, and no terminal signal of ours reaches it.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawn_file_actions_addchdir_np(&actions, "/");
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    int error = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) return "the warm engine could not be started: " + errorText(error);
    return std::nullopt;
}

}  // namespace harkline
