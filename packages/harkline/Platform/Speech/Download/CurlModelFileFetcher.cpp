#include "harkline/Platform/Speech/Download/CurlModelFileFetcher.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <memory>
#include <optional>

#include <curl/curl.h>

#include "harkline/Platform/Linux/SharedLibrary.h"

namespace harkline {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The oldest libcurl with every option set here (CURLOPT_PROTOCOLS_STR came in 7.85.0).
constexpr unsigned oldestVersion = 0x075500;
constexpr const char* oldestVersionText = "7.85.0";

// libcurl's functions, loaded (and libcurl initialised) on first use.
struct Curl {
    decltype(&::curl_global_init) globalInit;
    decltype(&::curl_easy_init) easyInit;
    decltype(&::curl_easy_cleanup) easyCleanup;
    decltype(&::curl_easy_setopt) easySetopt;
    decltype(&::curl_easy_getinfo) easyGetinfo;
    decltype(&::curl_easy_strerror) easyStrerror;
    decltype(&::curl_multi_init) multiInit;
    decltype(&::curl_multi_cleanup) multiCleanup;
    decltype(&::curl_multi_add_handle) multiAddHandle;
    decltype(&::curl_multi_remove_handle) multiRemoveHandle;
    decltype(&::curl_multi_perform) multiPerform;
    decltype(&::curl_multi_poll) multiPoll;
    decltype(&::curl_multi_info_read) multiInfoRead;
    decltype(&::curl_version_info) versionInfo;

    static const Curl& get() {
        static const Curl curl = [] {
            Curl loaded;
            try {
                static const SharedLibrary library("libcurl.so.4", "Debian package libcurl4");
                library.bind(loaded.globalInit, "curl_global_init");
                library.bind(loaded.easyInit, "curl_easy_init");
                library.bind(loaded.easyCleanup, "curl_easy_cleanup");
                library.bind(loaded.easySetopt, "curl_easy_setopt");
                library.bind(loaded.easyGetinfo, "curl_easy_getinfo");
                library.bind(loaded.easyStrerror, "curl_easy_strerror");
                library.bind(loaded.multiInit, "curl_multi_init");
                library.bind(loaded.multiCleanup, "curl_multi_cleanup");
                library.bind(loaded.multiAddHandle, "curl_multi_add_handle");
                library.bind(loaded.multiRemoveHandle, "curl_multi_remove_handle");
                library.bind(loaded.multiPerform, "curl_multi_perform");
                library.bind(loaded.multiPoll, "curl_multi_poll");
                library.bind(loaded.multiInfoRead, "curl_multi_info_read");
                library.bind(loaded.versionInfo, "curl_version_info");
                const auto* version = loaded.versionInfo(CURLVERSION_NOW);
                if (version->version_num < oldestVersion)
                    library.refuse(std::string("version ") + version->version + " is installed; harkline needs " +
                                   oldestVersionText + " or later");
            } catch (const SharedLibraryError& error) {
                throw ModelDownloadError(ModelDownloadFailure::library, error.what());
            }
            if (loaded.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK)
                throw ModelDownloadError(ModelDownloadFailure::library, "libcurl could not be initialised");
            return loaded;
        }();
        return curl;
    }
};

struct EasyCleanup {
    void operator()(CURL* easy) const { Curl::get().easyCleanup(easy); }
};
struct MultiCleanup {
    void operator()(CURLM* multi) const { Curl::get().multiCleanup(multi); }
};

// The host part of a URL, for messages.
std::string hostOf(const std::string& url) {
    auto start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    auto end = url.find_first_of("/?#", start);
    auto authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    auto at = authority.rfind('@');
    return at == std::string::npos ? authority : authority.substr(at + 1);
}

bool startsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

// One transfer: the state libcurl's callbacks share with the loop that drives it.
class Transfer {
public:
    Transfer(std::string url, std::uintmax_t offset, FetchedBodyReceiver& receiver)
        : url_(std::move(url)), offset_(offset), receiver_(receiver) {}
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    static size_t onHeader(char* data, size_t size, size_t count, void* self) {
        return static_cast<Transfer*>(self)->header(std::string(data, size * count));
    }
    static size_t onBody(char* data, size_t size, size_t count, void* self) {
        return static_cast<Transfer*>(self)->body(data, size * count);
    }

    // Drives the transfer to its end on this thread. Every wait is one curl_multi_poll
    // that also watches the loop's marker descriptor and ends when the loop has something
    // due or the stall limit is reached.
    void run(CURL* easy, const CurlFetchSettings& settings, InstallationLoop& loop) {
        easy_ = easy;
        const auto& curl = Curl::get();
        std::unique_ptr<CURLM, MultiCleanup> multi(curl.multiInit());
        if (!multi) throw std::bad_alloc();
        curl.multiAddHandle(multi.get(), easy);
        struct Detach {
            CURLM* multi;
            CURL* easy;
            ~Detach() { Curl::get().multiRemoveHandle(multi, easy); }
        } detach{multi.get(), easy};

        lastActivity_ = Clock::now();
        int running = 1;
        while (true) {
            curl.multiPerform(multi.get(), &running);
            if (failure_) std::rethrow_exception(failure_);
            if (!running) break;
            loop.serve();
            auto stalledFor = Clock::now() - lastActivity_;
            if (stalledFor >= settings.stallLimit)
                throw ModelDownloadError(ModelDownloadFailure::network,
                                         "connection to " + hostOf(url_) + " stalled: nothing arrived for " +
                                             std::to_string(settings.stallLimit.count()) + " ms");
            auto wait = std::chrono::ceil<milliseconds>(settings.stallLimit - stalledFor);
            if (auto longest = loop.longestWait()) wait = std::min(wait, *longest);
            curl_waitfd marker{loop.markerDescriptor(), CURL_WAIT_POLLIN, 0};
            bool watched = marker.fd >= 0;
            curl.multiPoll(multi.get(), watched ? &marker : nullptr, watched ? 1 : 0, static_cast<int>(wait.count()), nullptr);
        }
        int queued = 0;
        CURLcode result = CURLE_OK;
        while (CURLMsg* message = curl.multiInfoRead(multi.get(), &queued))
            if (message->msg == CURLMSG_DONE) result = message->data.result;
        finish(result);
    }

    char* errorBuffer() { return errorBuffer_; }

private:
    size_t header(const std::string& line) {
        lastActivity_ = Clock::now();
        // Each response of a redirect chain brings its own headers; keep the last one's.
        if (line.starts_with("HTTP/")) contentRange_.reset();
        if (startsWithIgnoringCase(line, "content-range:")) contentRange_ = line.substr(14);
        return line.size();
    }

    size_t body(const char* data, size_t size) {
        lastActivity_ = Clock::now();
        try {
            if (!started_) start();
            receiver_.receive(data, size);
            return size;
        } catch (...) {
            failure_ = std::current_exception();
            return 0;  // makes libcurl end the transfer
        }
    }

    long status() const {
        long code = 0;
        Curl::get().easyGetinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
        return code;
    }

    ModelDownloadError httpError(long code) const {
        return ModelDownloadError(ModelDownloadFailure::httpStatus, "HTTP " + std::to_string(code) + " for " + url_,
                                  static_cast<int>(code));
    }

    void start() {
        started_ = true;
        long code = status();
        if (code == 200) return receiver_.bodyStartsAt(0);
        if (code != 206) throw httpError(code);
        // "bytes START-END/TOTAL": anything but the range asked for would corrupt the file.
        std::optional<std::uintmax_t> start;
        if (contentRange_) {
            auto text = *contentRange_;
            auto digits = text.find_first_of("0123456789");
            if (digits != std::string::npos && text.find("bytes") < digits) start = std::stoull(text.substr(digits));
        }
        if (start != offset_)
            throw ModelDownloadError(ModelDownloadFailure::content,
                                     url_ + " answered with another range than bytes " + std::to_string(offset_) + "-");
        receiver_.bodyStartsAt(offset_);
    }

    void finish(CURLcode result) {
        if (result == CURLE_OK) {
            long code = status();
            if (code != 200 && code != 206) throw httpError(code);
            if (!started_) start();  // an empty body
            return;
        }
        std::string host = hostOf(url_);
        std::string detail = *errorBuffer_ ? errorBuffer_ : Curl::get().easyStrerror(result);
        auto network = [&](const std::string& reason) {
            return ModelDownloadError(ModelDownloadFailure::network, reason);
        };
        switch (result) {
        case CURLE_COULDNT_RESOLVE_HOST: throw network("could not resolve host " + host);
        case CURLE_COULDNT_RESOLVE_PROXY: throw network("could not resolve the proxy for " + host + ": " + detail);
        case CURLE_COULDNT_CONNECT: throw network("could not connect to " + host + ": " + detail);
        case CURLE_OPERATION_TIMEDOUT: throw network("connection to " + host + " timed out: " + detail);
        case CURLE_TOO_MANY_REDIRECTS: throw network("too many redirects for " + url_);
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
            throw network("connection to " + host + " was interrupted: " + detail);
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CACERT_BADFILE:
            throw network("secure connection to " + host + " failed: " + detail);
        default: throw network("download from " + host + " failed: " + detail);
        }
    }

    std::string url_;
    std::uintmax_t offset_;
    FetchedBodyReceiver& receiver_;
    CURL* easy_ = nullptr;
    bool started_ = false;
    std::optional<std::string> contentRange_;
    std::exception_ptr failure_;
    Clock::time_point lastActivity_;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
};

void setOption(CURL* easy, CURLoption option, auto value) {
    if (Curl::get().easySetopt(easy, option, value) != CURLE_OK)
        throw std::runtime_error("libcurl refused option " + std::to_string(static_cast<int>(option)));
}

}  // namespace

CurlModelFileFetcher::CurlModelFileFetcher(CurlFetchSettings settings) : settings_(settings) { Curl::get(); }

void CurlModelFileFetcher::fetch(const std::string& url, std::uintmax_t offset, FetchedBodyReceiver& receiver,
                                 InstallationLoop& loop) {
    std::unique_ptr<CURL, EasyCleanup> easy(Curl::get().easyInit());
    if (!easy) throw std::bad_alloc();
    Transfer transfer(url, offset, receiver);
    CURL* handle = easy.get();
    setOption(handle, CURLOPT_URL, url.c_str());
    setOption(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    setOption(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    setOption(handle, CURLOPT_FOLLOWLOCATION, 1L);
    setOption(handle, CURLOPT_MAXREDIRS, 10L);
    setOption(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings_.connectTimeout.count()));
    setOption(handle, CURLOPT_NOSIGNAL, 1L);
    // Ending a transfer must not wait for a host name lookup that is still running, or a
    // cancel during a slow lookup would take as long as the lookup. (An older libcurl
    // without the option just waits.)
    Curl::get().easySetopt(handle, CURLOPT_QUICK_EXIT, 1L);
    setOption(handle, CURLOPT_BUFFERSIZE, 256L * 1024);
    setOption(handle, CURLOPT_USERAGENT, "harkline");
    setOption(handle, CURLOPT_ERRORBUFFER, transfer.errorBuffer());
    setOption(handle, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    setOption(handle, CURLOPT_HEADERDATA, &transfer);
    setOption(handle, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    setOption(handle, CURLOPT_WRITEDATA, &transfer);
    // A plain Range header: libcurl's own resume refuses a server that ignores it,
    // while here that server's whole file is welcome.
    std::string range = std::to_string(offset) + "-";
    if (offset > 0) setOption(handle, CURLOPT_RANGE, range.c_str());
    transfer.run(handle, settings_, loop);
}

}  // namespace harkline
