#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Platform/Speech/WarmEngine/FrameConnection.h"
#include "harkline/Platform/Speech/WarmEngine/WarmModelCache.h"

namespace harkline {

// The user's warm speech engine: a process of its own that keeps the models of earlier
// dictations loaded and decodes each dictation that connects to its socket on a stream of
// its own, one thread per dictation. There is one per user (a lock beside the socket);
// it ends after a stretch without dictations, or once its socket is gone or replaced.
class WarmEngineServer {
public:
    // Serves on `socket` until then; returns the process's exit status.
    static int run(const std::filesystem::path& socket, const std::optional<std::string>& logPath);

private:
    struct Dictation {
        std::thread thread;
        std::atomic<bool> ended = false;
    };

    WarmEngineServer(std::filesystem::path socket, cli::Logger logger, std::chrono::seconds idle)
        : socket_(std::move(socket)), logger_(std::move(logger)), idle_(idle), models_(logger_) {}

    int serve();
    // Binds the socket in place of a stale one; false when it cannot, or when it is not ours.
    bool listen();
    void accept();
    // Ends finished dictations' threads; true while some still run.
    bool reap();
    bool socketIsStillOurs() const;
    void converse(FrameConnection connection, Dictation& dictation);
    cli::Json state() const;

    std::filesystem::path socket_;
    cli::Logger logger_;
    std::chrono::seconds idle_;
    WarmModelCache models_;
    int listener_ = -1;
    dev_t socketDevice_ = 0;
    ino_t socketInode_ = 0;
    std::list<Dictation> dictations_;  // the serving thread's own
    std::atomic<int> running_ = 0;
};

}  // namespace harkline
