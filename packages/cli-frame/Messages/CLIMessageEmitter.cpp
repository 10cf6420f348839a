#include "cli-frame/Messages/CLIMessageEmitter.h"

#include <atomic>
#include <cerrno>
#include <mutex>
#include <system_error>

#include <unistd.h>

#include "cli-frame/Json/JsonWriter.h"
#include "cli-frame/Messages/CodedError.h"

namespace cli {
namespace {

std::mutex& outputMutex() {
    static std::mutex mutex;
    return mutex;
}

std::atomic<bool> outputLost{false};

// 0 when every byte was written, else the errno of the failed write.
int writeAll(int fd, const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return errno;
        if (count == 0) return EIO;
        written += static_cast<std::size_t>(count);
    }
    return 0;
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
    int failure;
    {
        std::lock_guard lock(outputMutex());
        failure = writeAll(outputFd_, line);
    }
    if (failure != 0) {
        // The host stopped reading or the device is full: the answer is lost, and the
        // exit status must say so.
        outputLost = true;
        logger_.error("写入标准输出失败 type=" + std::string(message.type()) + ": " +
                      std::generic_category().message(failure));
        return;
    }
    logger_.debug("写入消息 type=" + std::string(message.type()));
}

void CLIMessageEmitter::emitStatus(StatusPayload payload) const {
    payload.logPath = logPath_;
    emit(CLIMessage::status(std::move(payload)));
}

bool CLIMessageEmitter::hasLostOutput() { return outputLost; }

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
