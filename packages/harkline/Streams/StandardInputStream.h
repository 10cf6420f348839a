#pragma once

#include <cstdint>
#include <vector>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Streams/AsyncStream.h"

namespace harkline {

using ByteChunk = std::vector<std::uint8_t>;

// Turns a readable file descriptor (standard input) into a stream of byte chunks of
// 1 to chunkSize bytes, in the order read, ending at end of input or with the read
// error. The reading thread never waits for the consumer. Giving the stream up wakes a
// read that is waiting for input, so the reader always stops; the descriptor is closed
// when it does.
class StandardInputStream {
public:
    StandardInputStream(int fileDescriptor, cli::Logger logger)
        : fileDescriptor_(fileDescriptor), logger_(std::move(logger)) {}

    // Throws CLIError::invalidChunkSize for a chunk size below 1.
    AsyncStream<ByteChunk> makeStream(int chunkSize) const;

private:
    int fileDescriptor_;
    cli::Logger logger_;
};

}  // namespace harkline
