#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "harkline/Platform/Speech/Download/InstallationLoop.h"
#include "harkline/Platform/Speech/Download/ModelDownloadError.h"

// The network seam of model downloads: fetch one file's bytes from an offset on.
// CurlModelFileFetcher is the real backend; tests can drive ModelDownload with a double.

namespace harkline {

// Where a fetch delivers the body. Called on the fetching thread.
class FetchedBodyReceiver {
public:
    virtual ~FetchedBodyReceiver() = default;

    // The body starts at this offset of the file: the one asked for, or 0 when the
    // server ignored the range and sends the whole file. Called once, before receive().
    virtual void bodyStartsAt(std::uintmax_t offset) = 0;
    // May throw; the fetch then ends with that exception.
    virtual void receive(const char* data, std::size_t size) = 0;
};

class ModelFileFetcher {
public:
    virtual ~ModelFileFetcher() = default;

    // Fetches `url` from byte `offset` on and returns once the body is complete, waiting
    // for the network in `loop`. Throws ModelDownloadError, AssetInstallationCancelled,
    // or what the receiver threw.
    virtual void fetch(const std::string& url, std::uintmax_t offset, FetchedBodyReceiver& receiver,
                       InstallationLoop& loop) = 0;
};

}  // namespace harkline
