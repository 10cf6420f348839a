#include "harkline/Audio/PCMBufferStreamBuilder.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

#include "harkline/Runtime/CLIError.h"
#include "harkline/Runtime/NumberFormatting.h"

namespace harkline {

PCMBufferStream::PCMBufferStream(AsyncStream<ByteChunk> input, std::size_t bytesPerFrame,
                                 std::size_t maxFramesPerBuffer, cli::Logger logger)
    : input_(std::move(input)),
      bytesPerFrame_(bytesPerFrame),
      maxFramesPerBuffer_(maxFramesPerBuffer),
      logger_(std::move(logger)) {}

std::optional<PCMBuffer> PCMBufferStream::next() {
    if (!failure_) {
        try {
            cutAhead();
        } catch (const std::exception& failure) {
            // The pending bytes of a run that failed are never handed on.
            pending_.clear();
            failure_ = std::current_exception();
            logger_.error(std::string("PCM 解析出错: ") + failure.what());
        }
    }
    if (ready_.empty()) {
        if (failure_) std::rethrow_exception(failure_);
        return std::nullopt;
    }
    auto buffer = std::move(ready_.front());
    ready_.pop_front();
    return buffer;
}

void PCMBufferStream::cutAhead() {
    while (ready_.empty() && !inputEnded_) accept(input_.next());
    while (ready_.size() < AudioStreamConfig::maxBuffersAhead && !inputEnded_) {
        std::optional<ByteChunk> chunk;
        if (!input_.tryNext(chunk)) break;
        accept(std::move(chunk));
    }
}

void PCMBufferStream::accept(std::optional<ByteChunk> chunk) {
    if (!chunk) {
        inputEnded_ = true;
        if (auto remainder = pending_.size() % bytesPerFrame_; remainder != 0)
            pending_.resize(pending_.size() + bytesPerFrame_ - remainder, 0);
        cutWholeFrames();
        logger_.info("PCM 解析完成，chunk=" + std::to_string(chunkCount_) + " buffers=" +
                     std::to_string(bufferCount_) + " frames=" + std::to_string(frameTotal_));
        return;
    }
    if (chunk->empty()) return;
    ++chunkCount_;
    logger_.debug("PCM Builder 收到 chunk#" + std::to_string(chunkCount_) + " bytes=" + std::to_string(chunk->size()));
    pending_.insert(pending_.end(), chunk->begin(), chunk->end());
    cutWholeFrames();
}

void PCMBufferStream::cutWholeFrames() {
    std::size_t offset = 0;
    while (pending_.size() - offset >= bytesPerFrame_) {
        auto frames = std::min((pending_.size() - offset) / bytesPerFrame_, maxFramesPerBuffer_);
        auto byteCount = frames * bytesPerFrame_;
        ready_.push_back(PCMBufferStreamBuilder::makeBuffer(pending_.data() + offset, byteCount,
                                                            static_cast<std::uint32_t>(frames)));
        offset += byteCount;
        ++bufferCount_;
        frameTotal_ += static_cast<std::int64_t>(frames);
        logger_.debug("PCM Builder 输出 buffer#" + std::to_string(bufferCount_) + " frames=" + std::to_string(frames));
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(offset));
}

PCMBufferStream PCMBufferStreamBuilder::makeStream(AsyncStream<ByteChunk> input) const {
    if (config_.channels != 1) throw CLIError(CLIError::Case::unsupportedChannelCount);
    auto bytesPerFrame = config_.bitDepth / 8;
    logger_.info("PCM 解析器初始化 sampleRate=" + formatFloatingPoint(config_.sampleRate) + "Hz bitDepth=" +
                 std::to_string(config_.bitDepth) + " bytesPerFrame=" + std::to_string(bytesPerFrame));
    return PCMBufferStream(std::move(input), static_cast<std::size_t>(bytesPerFrame),
                           static_cast<std::size_t>(std::max(config_.maxFramesPerBuffer, 1)), logger_);
}

PCMBuffer PCMBufferStreamBuilder::makeBuffer(const std::uint8_t* bytes, std::size_t byteCount,
                                             std::uint32_t frameCount) {
    if (byteCount != 0 && byteCount % 2 != 0) throw CLIError(CLIError::Case::invalidPCMFrame);
    auto buffer = PCMBuffer::make(frameCount);
    if (!buffer) throw CLIError(CLIError::Case::bufferAllocationFailed);
    auto* channelData = buffer->samples();
    if (channelData == nullptr) throw CLIError(CLIError::Case::bufferAllocationFailed);
    auto samples = static_cast<std::size_t>(frameCount);
    if (samples < 1) throw CLIError(CLIError::Case::invalidPCMFrame);
    // Never read past what was handed in, whatever the frame count claims.
    if (samples * 2 > byteCount) throw CLIError(CLIError::Case::invalidPCMFrame);
    std::memcpy(channelData, bytes, samples * 2);
    buffer->setFrameLength(frameCount);
    return std::move(*buffer);
}

}  // namespace harkline
