#include "harkline/Streams/StandardInputStream.h"

#include <cerrno>
#include <memory>
#include <string>
#include <system_error>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "harkline/Runtime/CLIError.h"

namespace harkline {
namespace {

// Wakes the reader out of its wait for input when a stop is requested.
class ReadWakeUp {
public:
    ReadWakeUp() : eventFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        if (eventFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    ~ReadWakeUp() { ::close(eventFd_); }
    ReadWakeUp(const ReadWakeUp&) = delete;
    ReadWakeUp& operator=(const ReadWakeUp&) = delete;

    void signal() const {
        std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(eventFd_, &one, sizeof one);
    }
    int fileDescriptor() const { return eventFd_; }

private:
    int eventFd_;
};

enum class ReadOutcome { data, endOfInput, stopped };

// Waits for input or a stop, then reads once. Throws std::system_error.
ReadOutcome readChunk(int fileDescriptor, const ReadWakeUp& wakeUp, ByteChunk& chunk) {
    for (;;) {
        pollfd watched[2] = {{fileDescriptor, POLLIN, 0}, {wakeUp.fileDescriptor(), POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "poll");
        }
        if (watched[1].revents != 0) return ReadOutcome::stopped;
        if (watched[0].revents == 0) continue;
        auto count = ::read(fileDescriptor, chunk.data(), chunk.size());
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            throw std::system_error(errno, std::generic_category(), "read");
        }
        if (count == 0) return ReadOutcome::endOfInput;
        chunk.resize(static_cast<std::size_t>(count));
        return ReadOutcome::data;
    }
}

}  // namespace

AsyncStream<ByteChunk> StandardInputStream::makeStream(int chunkSize) const {
    if (chunkSize < 1) throw CLIError(CLIError::Case::invalidChunkSize);
    logger_.info("准备从标准输入读取音频，chunkSize=" + std::to_string(chunkSize));

    auto wakeUp = std::make_shared<ReadWakeUp>();
    auto readLoop = [fileDescriptor = fileDescriptor_, logger = logger_, wakeUp, chunkSize](Channel<ByteChunk>& output,
                                                                                           std::stop_token stop) {
        std::stop_callback wakeOnStop(stop, [&wakeUp] { wakeUp->signal(); });
        std::int64_t chunkCount = 0;
        std::int64_t byteTotal = 0;
        for (;;) {
            ByteChunk chunk(static_cast<std::size_t>(chunkSize));
            ReadOutcome outcome;
            try {
                outcome = readChunk(fileDescriptor, *wakeUp, chunk);
            } catch (const std::exception& failure) {
                logger.error(std::string("标准输入读取失败: ") + failure.what());
                output.fail(std::current_exception());
                break;
            }
            if (outcome == ReadOutcome::stopped) break;
            if (outcome == ReadOutcome::endOfInput) {
                logger.info("检测到标准输入 EOF，已读取 chunk=" + std::to_string(chunkCount) +
                            " 总字节=" + std::to_string(byteTotal));
                logger.info("标准输入读取完成，总字节=" + std::to_string(byteTotal) +
                            " chunk=" + std::to_string(chunkCount));
                output.finish();
                break;
            }
            ++chunkCount;
            byteTotal += static_cast<std::int64_t>(chunk.size());
            logger.debug("读取 chunk#" + std::to_string(chunkCount) + " bytes=" + std::to_string(chunk.size()));
            if (!output.send(std::move(chunk), stop)) break;
        }
        logger.debug("标准输入流任务结束，取消 reader");
        // The handle is closed once this thread no longer reads it, whatever ended the run.
        ::close(fileDescriptor);
    };
    return AsyncStream<ByteChunk>::spawn(std::move(readLoop),
                                         {maxQueuedBytes_, [](const ByteChunk& chunk) { return chunk.size(); }});
}

}  // namespace harkline
