#include "pickline/Platform/AtSpi/BusProbe.h"

#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string_view>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace pickline::atspi {
namespace {

using Clock = std::chrono::steady_clock;

// The value of `key` in the first entry of a D-Bus address, with %XX escapes decoded.
std::optional<std::string> addressValue(std::string_view entry, std::string_view key) {
    std::size_t start = entry.find(':');
    while (start != std::string_view::npos) {
        std::size_t end = entry.find(',', start + 1);
        std::string_view pair = entry.substr(start + 1, end == std::string_view::npos ? end : end - start - 1);
        if (pair.starts_with(key) && pair.size() > key.size() && pair[key.size()] == '=') {
            std::string value;
            std::string_view raw = pair.substr(key.size() + 1);
            for (std::size_t index = 0; index < raw.size(); ++index) {
                unsigned byte = 0;
                if (raw[index] == '%' && index + 2 < raw.size() &&
                    std::from_chars(raw.data() + index + 1, raw.data() + index + 3, byte, 16).ptr ==
                        raw.data() + index + 3) {
                    value += static_cast<char>(byte);
                    index += 2;
                } else {
                    value += raw[index];
                }
            }
            return value;
        }
        start = end;
    }
    return std::nullopt;
}

// A connected, non-blocking socket to the bus, or -1.
int connectTo(std::string_view entry) {
    sockaddr_un socketAddress{};
    socketAddress.sun_family = AF_UNIX;
    socklen_t length = 0;
    if (auto path = addressValue(entry, "path"); path && path->size() < sizeof socketAddress.sun_path) {
        std::memcpy(socketAddress.sun_path, path->data(), path->size());
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path->size() + 1);
    } else if (auto name = addressValue(entry, "abstract"); name && name->size() + 1 < sizeof socketAddress.sun_path) {
        std::memcpy(socketAddress.sun_path + 1, name->data(), name->size());
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name->size());
    } else {
        return -1;
    }
    int socketFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socketFd < 0) return -1;
    // A Unix socket connects at once or not at once: a full backlog counts as not answering.
    if (::connect(socketFd, reinterpret_cast<const sockaddr*>(&socketAddress), length) != 0) {
        ::close(socketFd);
        return -1;
    }
    return socketFd;
}

// Sends the credentials byte and an EXTERNAL authentication request, and waits for the
// first line of the answer, whatever it says.
bool answersHandshake(int socketFd, Clock::time_point deadline) {
    std::string request(1, '\0');
    request += "AUTH EXTERNAL ";
    static constexpr char hex[] = "0123456789abcdef";
    for (char digit : std::to_string(::getuid())) {
        request += hex[static_cast<unsigned char>(digit) >> 4];
        request += hex[static_cast<unsigned char>(digit) & 0x0F];
    }
    request += "\r\n";
    if (::send(socketFd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
        return false;
    std::string answer;
    while (answer.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd readable{socketFd, POLLIN, 0};
        int ready = ::poll(&readable, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char buffer[256];
        ssize_t received = ::recv(socketFd, buffer, sizeof buffer, 0);
        if (received <= 0) return false;
        answer.append(buffer, static_cast<std::size_t>(received));
    }
    return true;
}

}  // namespace

bool busAnswers(const std::string& address, std::chrono::milliseconds within) {
    std::string_view entry = std::string_view(address).substr(0, address.find(';'));
    if (!entry.starts_with("unix:")) return true;
    int socketFd = connectTo(entry);
    if (socketFd < 0) return false;
    bool answers = answersHandshake(socketFd, Clock::now() + within);
    ::close(socketFd);
    return answers;
}

}  // namespace pickline::atspi
