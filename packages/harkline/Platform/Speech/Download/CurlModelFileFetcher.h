#pragma once

#include <chrono>

#include "harkline/Platform/Speech/Download/ModelFileFetcher.h"

namespace harkline {

struct CurlFetchSettings {
    static constexpr const char* stallLimitVariable = "TESSARYN_DOWNLOAD_STALL_LIMIT_MS";

    std::chrono::milliseconds connectTimeout{15000};
    // A transfer that receives nothing for this long is given up as stalled.
    std::chrono::milliseconds stallLimit{30000};

    // The defaults, with the stall limit from TESSARYN_DOWNLOAD_STALL_LIMIT_MS when set
    // (tests of a stalled server); throws std::invalid_argument for a value that is not
    // a positive whole number.
    static CurlFetchSettings fromEnvironment();
};

// Fetches over HTTP and HTTPS with libcurl: redirects followed, the proxy variables
// (http_proxy, https_proxy, no_proxy) honoured as libcurl does by default, ranges asked
// with a Range header. Cancellation and the stall limit are checked every 50 ms.
class CurlModelFileFetcher final : public ModelFileFetcher {
public:
    // Loads libcurl on first use; throws ModelDownloadError when it cannot.
    explicit CurlModelFileFetcher(CurlFetchSettings settings = {});

    void fetch(const std::string& url, std::uintmax_t offset, FetchedBodyReceiver& receiver) override;

private:
    CurlFetchSettings settings_;
};

}  // namespace harkline
