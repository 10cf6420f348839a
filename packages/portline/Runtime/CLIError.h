#pragma once

#include <string>

#include "cli-frame/Messages/CodedError.h"

namespace portline {

// Every failure portline reports with its own code and message.
class CLIError : public cli::CodedError {
public:
    enum class Case { invalidArgument, deviceNotFound, internalError, commandMissing, noDefaultDevice, enumFailed, setDefaultFailed };

    explicit CLIError(Case errorCase) : CLIError(errorCase, {}) {}
    static CLIError invalidArgument(const std::string& message) { return CLIError(Case::invalidArgument, message); }
    static CLIError deviceNotFound(const std::string& uid) { return CLIError(Case::deviceNotFound, uid); }
    static CLIError internalError(const std::string& message) { return CLIError(Case::internalError, message); }

    Case errorCase() const { return case_; }

private:
    CLIError(Case errorCase, const std::string& carried);

    Case case_;
};

}  // namespace portline
