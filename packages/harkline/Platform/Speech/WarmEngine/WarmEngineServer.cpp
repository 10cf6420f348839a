#include "harkline/Platform/Speech/WarmEngine/WarmEngineServer.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "cli-frame/Logging/LoggerFactory.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxDecoder.h"
#include "harkline/Platform/Speech/WarmEngine/WarmEngineProtocol.h"

namespace harkline {
namespace {

namespace fs = std::filesystem;
using Clock = FrameConnection::Clock;

std::chrono::seconds idleLimit() {
    const char* text = std::getenv(warmengine::idleVariable);
    if (text == nullptr) return warmengine::defaultIdle;
    int seconds = 0;
    std::string_view view(text);
    auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), seconds);
    if (error != std::errc() || end != view.data() + view.size() || seconds <= 0) return warmengine::defaultIdle;
    return std::chrono::seconds(seconds);
}

sockaddr_un addressOf(const fs::path& socket) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socket.c_str(), std::min(socket.native().size(), sizeof address.sun_path - 1));
    return address;
}

std::int64_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::int64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

cli::Json hypothesesJson(const std::vector<StreamingDecoder::Hypothesis>& hypotheses) {
    auto list = cli::Json::array();
    for (const auto& hypothesis : hypotheses) list.push_back({hypothesis.text, hypothesis.isFinal});
    return list;
}

}  // namespace

int WarmEngineServer::run(const fs::path& socket, const std::optional<std::string>& logPath) {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    auto logger = cli::LoggerFactory::makeLogger(logPath, "harkline");
    // One engine per user: a second one started meanwhile leaves. An engine that is
    // ending holds the lock a moment longer, so it is asked for a while.
    auto lockPath = socket.parent_path() / warmengine::lockName;
    int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0) return 1;
    for (int attempt = 0; ::flock(lock, LOCK_EX | LOCK_NB) != 0; ++attempt) {
        if (attempt == 100) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    WarmEngineServer server(socket, logger, idleLimit());
    int status = server.serve();
    ::close(lock);
    return status;
}

int WarmEngineServer::serve() {
    if (!listen()) return 1;
    logger_.info("常驻语音引擎启动 pid=" + std::to_string(::getpid()) + " socket=" + socket_.string() +
                 " 空闲 " + std::to_string(idle_.count()) + " 秒后结束");
    auto lastWork = Clock::now();
    for (;;) {
        pollfd entry{listener_, POLLIN, 0};
        int ready = ::poll(&entry, 1, 1000);
        if (ready > 0) accept();
        if (reap() || running_ > 0) lastWork = Clock::now();
        if (!socketIsStillOurs()) {
            logger_.info("常驻语音引擎的套接字已不在，引擎结束");
            break;
        }
        if (Clock::now() - lastWork >= idle_) {
            logger_.info("常驻语音引擎空闲，结束");
            ::unlink(socket_.c_str());
            break;
        }
    }
    ::close(listener_);
    for (auto& dictation : dictations_) dictation.thread.join();
    return 0;
}

bool WarmEngineServer::listen() {
    auto address = addressOf(socket_);
    struct stat entry {};
    if (::lstat(socket_.c_str(), &entry) == 0) {
        if (!S_ISSOCK(entry.st_mode) || entry.st_uid != ::geteuid()) {
            logger_.error("常驻语音引擎不启动: " + socket_.string() + " 不是本用户的套接字");
            return false;
        }
        // Every engine holds the lock while it serves, so this one was left by an engine
        // that ended without removing it (or is ending).
        ::unlink(socket_.c_str());
    }
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ::umask(077);
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(socket_.c_str(), 0600) != 0 || ::listen(listener_, 16) != 0 || ::lstat(socket_.c_str(), &entry) != 0) {
        logger_.error("常驻语音引擎不能在 " + socket_.string() + " 监听: " + std::strerror(errno));
        return false;
    }
    socketDevice_ = entry.st_dev;
    socketInode_ = entry.st_ino;
    return true;
}

void WarmEngineServer::accept() {
    int descriptor = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (descriptor < 0) return;
    FrameConnection connection(descriptor);
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid()) {
        logger_.error("常驻语音引擎拒绝另一用户的连接 uid=" + std::to_string(peer.uid));
        return;
    }
    auto& dictation = dictations_.emplace_back();
    ++running_;
    dictation.thread = std::thread([this, &dictation, connection = std::move(connection)]() mutable {
        converse(std::move(connection), dictation);
    });
}

bool WarmEngineServer::reap() {
    for (auto it = dictations_.begin(); it != dictations_.end();) {
        if (it->ended) {
            it->thread.join();
            it = dictations_.erase(it);
        } else {
            ++it;
        }
    }
    return !dictations_.empty();
}

bool WarmEngineServer::socketIsStillOurs() const {
    struct stat entry {};
    return ::lstat(socket_.c_str(), &entry) == 0 && entry.st_dev == socketDevice_ && entry.st_ino == socketInode_;
}

void WarmEngineServer::converse(FrameConnection connection, Dictation& dictation) {
    auto answer = [&](FrameKind kind, std::string payload) {
        return connection.send({kind, std::move(payload)}, Clock::now() + warmengine::decodeDeadline);
    };
    auto greeting = connection.receive(Clock::now() + warmengine::handshakeDeadline);
    if (greeting && greeting->kind == FrameKind::hello && answer(FrameKind::hello, std::string(warmengine::hello)) &&
        greeting->payload == warmengine::hello) {
        std::unique_ptr<StreamingDecoder> decoder;
        std::vector<std::int16_t> samples;
        try {
            // A dictation that stays silent longer than the engine's idle limit is let go.
            while (auto request = connection.receive(Clock::now() + idle_)) {
                if (request->kind == FrameKind::state) {
                    if (!answer(FrameKind::state, state().dump())) break;
                } else if (request->kind == FrameKind::open && !decoder) {
                    auto json = cli::Json::parse(request->payload);
                    InstalledSpeechModel model{json.at("manifest").get<SpeechModelManifest>(),
                                               json.at("directory").get<std::string>()};
                    auto hotwords = json.value("hotwords", std::string());
                    auto acquired = models_.acquire(model, !hotwords.empty());
                    decoder = std::make_unique<SherpaOnnxDecoder>(std::move(acquired.recognizer), std::move(hotwords));
                    if (!answer(FrameKind::opened, cli::Json{{"loaded", acquired.loaded}}.dump())) break;
                } else if (request->kind == FrameKind::samples && decoder && request->payload.size() % 2 == 0) {
                    samples.resize(request->payload.size() / 2);
                    std::memcpy(samples.data(), request->payload.data(), request->payload.size());
                    if (!answer(FrameKind::hypotheses, hypothesesJson(decoder->feed(samples.data(), samples.size())).dump()))
                        break;
                } else if (request->kind == FrameKind::finish && decoder) {
                    if (!answer(FrameKind::hypotheses, hypothesesJson(decoder->finish()).dump())) break;
                } else {
                    break;  // out of order: not a dictation of ours
                }
            }
        } catch (const std::exception& failure) {
            answer(FrameKind::failure, failure.what());
        }
    }
    --running_;
    dictation.ended = true;
}

cli::Json WarmEngineServer::state() const {
    auto held = models_.state();
    return {{"pid", ::getpid()},
            {"residentBytes", residentBytes()},
            {"loads", held.at("loads")},
            {"models", held.at("models")}};
}

}  // namespace harkline
