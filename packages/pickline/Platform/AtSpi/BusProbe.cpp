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

#include <dbus/dbus.h>

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

// Reads from the bus until `complete` says the bytes so far suffice, the deadline passes,
// the bus hangs up or sends more than any answer we wait for holds. Every wait is a poll
// bounded by the deadline: a bus that sends garbage without end costs no busy loop.
template <typename Complete>
bool receiveUntil(int socketFd, Clock::time_point deadline, std::string& received, Complete complete) {
    constexpr std::size_t largestAnswer = 4096;
    while (!complete(received)) {
        if (received.size() > largestAnswer) return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd readable{socketFd, POLLIN, 0};
        int ready = ::poll(&readable, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char buffer[512];
        ssize_t count = ::recv(socketFd, buffer, sizeof buffer, 0);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count <= 0) return false;
        received.append(buffer, static_cast<std::size_t>(count));
    }
    return true;
}

bool sendAll(int socketFd, const std::string& bytes) {
    return ::send(socketFd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

// "OK " and the server's 32 hexadecimal digits: the only answer after which libdbus goes on.
bool acceptsAuthentication(std::string_view line) {
    if (line.ends_with('\r')) line.remove_suffix(1);
    return line.size() == 3 + 32 && line.starts_with("OK ") &&
           line.find_first_not_of("0123456789abcdefABCDEF", 3) == std::string_view::npos;
}

// The bus's Hello, as libdbus sends it first on every connection.
std::optional<std::string> helloMessage() {
    DBusMessage* message =
        dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "Hello");
    if (message == nullptr) return std::nullopt;
    dbus_message_set_serial(message, 1);
    char* bytes = nullptr;
    int length = 0;
    std::optional<std::string> marshalled;
    if (dbus_message_marshal(message, &bytes, &length)) {
        marshalled.emplace(bytes, static_cast<std::size_t>(length));
        dbus_free(bytes);
    }
    dbus_message_unref(message);
    return marshalled;
}

// Goes through what libdbus does on a new connection, bounded by the deadline: the
// credentials byte and an EXTERNAL authentication, which the bus must accept, then Hello,
// which it must answer with a method return. Garbage, silence or a refusal at any step
// means the bus does not answer.
bool answersHandshake(int socketFd, Clock::time_point deadline) {
    std::string request(1, '\0');
    request += "AUTH EXTERNAL ";
    static constexpr char hex[] = "0123456789abcdef";
    for (char digit : std::to_string(::getuid())) {
        request += hex[static_cast<unsigned char>(digit) >> 4];
        request += hex[static_cast<unsigned char>(digit) & 0x0F];
    }
    request += "\r\n";
    std::string answer;
    auto hasLine = [](const std::string& bytes) { return bytes.find('\n') != std::string::npos; };
    if (!sendAll(socketFd, request) || !receiveUntil(socketFd, deadline, answer, hasLine)) return false;
    std::string_view line(answer);
    if (line.find('\n') + 1 != line.size() || !acceptsAuthentication(line.substr(0, line.size() - 1))) return false;

    auto hello = helloMessage();
    if (!hello || !sendAll(socketFd, "BEGIN\r\n" + *hello)) return false;
    // The fixed part of a message header: byte order, type, flags, protocol version 1.
    constexpr std::size_t fixedHeader = 16;
    constexpr char methodReturn = 2;
    std::string reply;
    auto hasHeader = [](const std::string& bytes) { return bytes.size() >= fixedHeader; };
    if (!receiveUntil(socketFd, deadline, reply, hasHeader)) return false;
    return (reply[0] == 'l' || reply[0] == 'B') && reply[1] == methodReturn && reply[3] == 1;
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
