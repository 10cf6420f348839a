#include "harkline/Backends/UnavailableSpeechBackend.h"

namespace harkline {

AsyncStream<ResultPayload> UnavailableSpeechBackend::run(AsyncStream<AudioPCMBuffer> bufferStream) const {
    // The audio is not wanted: giving the buffer stream up here (as it goes out of scope)
    // stops the builder and the reader instead of leaving them to run until exit.
    bufferStream.cancel();
    return AsyncStream<ResultPayload>::failed(std::make_exception_ptr(error_));
}

}  // namespace harkline
