#pragma once

#include <string>

#include "cli-frame/Messages/CodedError.h"

namespace harkline {

// Every failure harkline reports with its own code and message.
class CLIError : public cli::CodedError {
public:
    enum class Case {
        backendFailed,
        invalidChunkSize,
        unsupportedChannelCount,
        bufferAllocationFailed,
        invalidPCMFrame,
        backendUnavailable,
        assetsLocaleInvalid,
        downloadCancelled,
        appleAssetsMissing,
        appleDownloadFailed,
        appleLogsUnavailable,
        appleTranscribeFailed,
        appleEnvUnsupported,
        appleAuthorizationDenied,
    };

    explicit CLIError(Case errorCase) : CLIError(errorCase, {}) {}
    static CLIError backendFailed(std::string message) { return CLIError(Case::backendFailed, std::move(message)); }

    Case errorCase() const { return case_; }

private:
    CLIError(Case errorCase, std::string carriedMessage);

    Case case_;
};

}  // namespace harkline
