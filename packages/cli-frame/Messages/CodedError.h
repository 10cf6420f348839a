#pragma once

#include <stdexcept>
#include <string>

namespace cli {

// Base of each tool's closed set of failures: a machine-readable code and the
// user-facing message (what()).
class CodedError : public std::runtime_error {
public:
    CodedError(std::string code, const std::string& message) : std::runtime_error(message), code_(std::move(code)) {}

    const std::string& errorCode() const { return code_; }
    std::string message() const { return what(); }

private:
    std::string code_;
};

}  // namespace cli
