#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Streams/AsyncStream.h"

namespace harkline {

using ByteChunk = std::vector<std::uint8_t>;

// Turns a readable file descriptor (standard input) into a stream of byte chunks of
// 1 to chunkSize bytes, in the order read, ending at end of input or with the read
// error. Once the chunks the consumer has not taken yet add up to maxQueuedBytes, the
// reader stops reading until it catches up, so a writer that is faster than the
// consumer waits on the full pipe instead of growing this process. Giving the stream up
// wakes the reader whether it waits for input or for room; the descriptor is closed
// when it stops.
class StandardInputStream {
public:
    StandardInputStream(int fileDescriptor, cli::Logger logger,
                        std::size_t maxQueuedBytes = std::numeric_limits<std::size_t>::max())
        : fileDescriptor_(fileDescriptor), logger_(std::move(logger)), maxQueuedBytes_(maxQueuedBytes) {}

    // Throws CLIError::invalidChunkSize for a chunk size below 1.
    AsyncStream<ByteChunk> makeStream(int chunkSize) const;

private:
    int fileDescriptor_;
    cli::Logger logger_;
    std::size_t maxQueuedBytes_;
};

}  // namespace harkline
