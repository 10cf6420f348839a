#pragma once

#include "cli-frame/Messages/CodedError.h"

namespace hushline {

// Every failure hushline reports with its own code and message.
class CLIError : public cli::CodedError {
public:
    enum class Case { commandMissing, deviceUnavailable, propertyUnavailable, stateMissing, muteFailed, restoreFailed };

    explicit CLIError(Case errorCase);
    Case errorCase() const { return case_; }

private:
    Case case_;
};

}  // namespace hushline
