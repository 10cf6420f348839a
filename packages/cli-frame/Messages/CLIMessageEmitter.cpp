#include "cli-frame/Messages/CLIMessageEmitter.h"

#include <cerrno>
#include <mutex>

#include <unistd.h>

#include "cli-frame/Json/JsonWriter.h"
#include "cli-frame/Messages/CodedError.h"

namespace cli {
namespace {

std::mutex& outputMutex() {
    static std::mutex mutex;
    return mutex;
}

void writeAll(int fd, const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return;  // the host stopped reading; nothing sensible is left to do
        written += static_cast<std::size_t>(count);
    }
}

}  // namespace

void CLIMessageEmitter::emit(const CLIMessage& message) const {
    std::string line;
    try {
        Json envelope = Json::object();
        envelope["type"] = std::string(message.type());
        envelope["payload"] = message.payload().encode();
        line = writeJson(envelope);
    } catch (const std::exception& failure) {
        logger_.error(std::string("编码 CLI 消息失败: ") + failure.what());
        return;
    }
    line += '\n';
    {
        std::lock_guard lock(outputMutex());
        writeAll(outputFd_, line);
    }
    logger_.debug("写入消息 type=" + std::string(message.type()));
}

void CLIMessageEmitter::emitFailure(const std::exception& failure, const std::string& fallbackCode) const {
    if (const auto* coded = dynamic_cast<const CodedError*>(&failure)) {
        emitError(coded->errorCode(), coded->message());
    } else {
        emitError(fallbackCode, failure.what());
    }
}

void CLIMessageEmitter::emitError(std::string code, std::string message, std::optional<AnyEncodable> details) const {
    emit(CLIMessage::error(ErrorPayload{std::move(code), std::move(message), logPath_, std::move(details)}));
}

}  // namespace cli
