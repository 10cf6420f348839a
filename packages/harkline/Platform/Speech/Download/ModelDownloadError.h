#pragma once

#include <stdexcept>
#include <string>

namespace harkline {

// What went wrong with a model download, for callers that react differently (resume,
// retry from the start, tell the user to free space).
enum class ModelDownloadFailure {
    network,     // resolving, connecting, TLS, a connection that broke or stalled
    httpStatus,  // the server answered with an error status
    content,     // the server sent other bytes than the catalogue describes
    noSpace,     // the disk is full
    file,        // the staging folder cannot be written
    library,     // libcurl cannot be loaded
};

// A failed download, with a reason a person can act on as its message.
class ModelDownloadError : public std::runtime_error {
public:
    ModelDownloadError(ModelDownloadFailure failure, const std::string& reason, int httpStatus = 0)
        : std::runtime_error(reason), failure_(failure), httpStatus_(httpStatus) {}

    ModelDownloadFailure failure() const { return failure_; }
    // The server's status for httpStatus failures, 0 otherwise.
    int httpStatus() const { return httpStatus_; }

private:
    ModelDownloadFailure failure_;
    int httpStatus_;
};

}  // namespace harkline
