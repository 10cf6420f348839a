#include "harkline/Runtime/CLIError.h"

namespace harkline {
namespace {

struct CodeAndMessage {
    const char* code;
    const char* message;
};

CodeAndMessage describe(CLIError::Case errorCase) {
    using Case = CLIError::Case;
    switch (errorCase) {
        case Case::backendFailed: return {"apple_backend_failed", ""};
        case Case::invalidChunkSize: return {"apple_invalid_chunk_size", "无效的音频分片大小。"};
        case Case::unsupportedChannelCount: return {"apple_unsupported_channels", "仅支持单声道音频。"};
        case Case::bufferAllocationFailed: return {"apple_buffer_allocation_failed", "音频缓冲区分配失败。"};
        case Case::invalidPCMFrame: return {"apple_invalid_pcm_frame", "PCM 音频数据不完整或损坏。"};
        case Case::backendUnavailable: return {"apple_backend_unavailable", "Apple Speech 模块当前不可用。"};
        case Case::assetsLocaleInvalid: return {"apple_assets_locale_invalid", "请通过 --locale 指定有效的语言标识符。"};
        case Case::downloadCancelled: return {"apple_download_cancelled", "Apple Speech 模型下载已取消。"};
        case Case::appleAssetsMissing: return {"apple_assets_missing", "Apple Speech 模型尚未安装。"};
        case Case::appleDownloadFailed: return {"apple_download_failed", "Apple Speech 模型下载失败。"};
        case Case::appleLogsUnavailable: return {"apple_logs_unavailable", "无法访问 harkline 日志。"};
        case Case::appleTranscribeFailed: return {"apple_transcribe_failed", "Apple Speech 转写失败。"};
        case Case::appleEnvUnsupported: return {"apple_env_unsupported", "当前系统不满足 Apple Speech 运行要求。"};
        case Case::appleAuthorizationDenied:
            return {"apple_authorization_denied", "Apple Speech 权限未授予，请在系统设置中允许语音识别。"};
    }
    return {"apple_cli_error", ""};
}

}  // namespace

CLIError::CLIError(Case errorCase, std::string carriedMessage)
    : cli::CodedError(describe(errorCase).code,
                      errorCase == Case::backendFailed ? carriedMessage : describe(errorCase).message),
      case_(errorCase) {}

}  // namespace harkline
