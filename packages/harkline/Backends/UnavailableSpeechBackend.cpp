#include "harkline/Backends/UnavailableSpeechBackend.h"

namespace harkline {

void UnavailableSpeechBackend::run(PCMBufferStream& /*buffers*/, const ResultHandler& /*onResult*/) const {
    // The audio is not wanted: the caller gives the buffers up, which stops the reader.
    throw error_;
}

}  // namespace harkline
