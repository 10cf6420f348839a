#include "harkline/Audio/PCMBufferStreamBuilder.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "harkline/Runtime/CLIError.h"
#include "harkline/Runtime/NumberFormatting.h"

namespace harkline {
namespace {

struct ConversionRun {
    const cli::Logger& logger;
    AudioFormat format;
    std::size_t bytesPerFrame;
    std::size_t maxFramesPerBuffer;
    Channel<AudioPCMBuffer>& output;

    ByteChunk pending;
    std::int64_t chunkCount = 0;
    std::int64_t bufferCount = 0;
    std::int64_t frameTotal = 0;

    // Hands on every whole frame pending, in buffers of at most maxFramesPerBuffer.
    void drain() {
        std::size_t offset = 0;
        while (pending.size() - offset >= bytesPerFrame) {
            auto frames = std::min((pending.size() - offset) / bytesPerFrame, maxFramesPerBuffer);
            auto byteCount = frames * bytesPerFrame;
            auto buffer = PCMBufferStreamBuilder::makeBuffer(pending.data() + offset, byteCount,
                                                             static_cast<std::uint32_t>(frames), format);
            offset += byteCount;
            ++bufferCount;
            frameTotal += static_cast<std::int64_t>(frames);
            logger.debug("PCM Builder 输出 buffer#" + std::to_string(bufferCount) + " frames=" + std::to_string(frames));
            output.send(std::move(buffer));
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(offset));
    }
};

}  // namespace

AsyncStream<AudioPCMBuffer> PCMBufferStreamBuilder::makeStream(AsyncStream<ByteChunk> input) const {
    if (config_.channels != 1) throw CLIError(CLIError::Case::unsupportedChannelCount);
    AudioFormat format{AudioCommonFormat::pcmFormatInt16, config_.sampleRate, 1, false};
    auto bytesPerFrame = config_.bitDepth / 8;
    logger_.info("PCM 解析器初始化 sampleRate=" + formatFloatingPoint(config_.sampleRate) + "Hz bitDepth=" +
                 std::to_string(config_.bitDepth) + " bytesPerFrame=" + std::to_string(bytesPerFrame));

    auto giveUpInput = [inputChannel = input.channel()] { inputChannel->cancel(); };
    auto convert = [input = std::move(input), logger = logger_, format, bytesPerFrame,
                    maxFrames = config_.maxFramesPerBuffer](Channel<AudioPCMBuffer>& output) mutable {
        auto chunks = std::move(input);
        ConversionRun run{logger, format, static_cast<std::size_t>(bytesPerFrame),
                          static_cast<std::size_t>(std::max(maxFrames, 1)), output, {}};
        try {
            while (auto chunk = chunks.next()) {
                if (chunk->empty()) continue;
                ++run.chunkCount;
                logger.debug("PCM Builder 收到 chunk#" + std::to_string(run.chunkCount) +
                             " bytes=" + std::to_string(chunk->size()));
                run.pending.insert(run.pending.end(), chunk->begin(), chunk->end());
                run.drain();
            }
            if (output.isCancelled()) return;
            if (auto remainder = run.pending.size() % run.bytesPerFrame; remainder != 0)
                run.pending.resize(run.pending.size() + run.bytesPerFrame - remainder, 0);
            run.drain();
            logger.info("PCM 解析完成，chunk=" + std::to_string(run.chunkCount) + " buffers=" +
                        std::to_string(run.bufferCount) + " frames=" + std::to_string(run.frameTotal));
            output.finish();
        } catch (const std::exception& failure) {
            logger.error(std::string("PCM 解析出错: ") + failure.what());
            output.fail(std::current_exception());
        }
    };
    return AsyncStream<AudioPCMBuffer>::spawn(std::move(convert), std::move(giveUpInput),
                                              {AudioStreamConfig::maxQueuedBuffers, {}});
}

AudioPCMBuffer PCMBufferStreamBuilder::makeBuffer(const std::uint8_t* bytes, std::size_t byteCount,
                                                  std::uint32_t frameCount, const AudioFormat& format) {
    if (byteCount != 0 && byteCount % 2 != 0) throw CLIError(CLIError::Case::invalidPCMFrame);
    auto buffer = AudioPCMBuffer::make(format, frameCount);
    if (!buffer) throw CLIError(CLIError::Case::bufferAllocationFailed);
    auto* channelData = buffer->int16ChannelData(0);
    if (channelData == nullptr) throw CLIError(CLIError::Case::bufferAllocationFailed);
    auto samples = static_cast<std::size_t>(frameCount) * format.channelCount;
    if (samples < 1) throw CLIError(CLIError::Case::invalidPCMFrame);
    // Never read past what was handed in, whatever the frame count claims.
    if (samples * 2 > byteCount) throw CLIError(CLIError::Case::invalidPCMFrame);
    std::memcpy(channelData, bytes, samples * 2);
    buffer->setFrameLength(frameCount);
    return std::move(*buffer);
}

}  // namespace harkline
