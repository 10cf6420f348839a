#pragma once

#include <chrono>

#include "harkline/Platform/Speech/Download/ModelFileFetcher.h"

namespace harkline {

struct CurlFetchSettings {
    std::chrono::milliseconds connectTimeout{15000};
    // A transfer that receives nothing for this long is given up as stalled.
    std::chrono::milliseconds stallLimit{30000};
};

// Fetches over HTTP and HTTPS with libcurl: redirects followed, the proxy variables
// (http_proxy, https_proxy, no_proxy) honoured as libcurl does by default, ranges asked
// with a Range header. libcurl's multi interface runs on the fetching thread, in the
// installation's loop.
class CurlModelFileFetcher final : public ModelFileFetcher {
public:
    // Loads libcurl on first use; throws ModelDownloadError when it cannot, or when it is
    // older than the options set here need.
    explicit CurlModelFileFetcher(CurlFetchSettings settings = {});

    void fetch(const std::string& url, std::uintmax_t offset, FetchedBodyReceiver& receiver,
               InstallationLoop& loop) override;

private:
    CurlFetchSettings settings_;
};

}  // namespace harkline
