#include "hushline/Runtime/CLIError.h"

#include <utility>

namespace hushline {
namespace {

std::pair<const char*, const char*> describe(CLIError::Case errorCase) {
    using Case = CLIError::Case;
    switch (errorCase) {
        case Case::commandMissing: return {"apple_audio_command_missing", "未指定命令，请使用 mute/restore/status。"};
        case Case::deviceUnavailable: return {"apple_audio_device_unavailable", "未找到默认输出设备。"};
        case Case::propertyUnavailable: return {"apple_audio_property_unavailable", "当前输出设备不支持音量或静音控制。"};
        case Case::stateMissing: return {"apple_audio_state_missing", "未找到可用的静音状态快照。"};
        case Case::muteFailed: return {"apple_audio_mute_failed", "系统静音失败。"};
        case Case::restoreFailed: return {"apple_audio_restore_failed", "恢复系统音量失败。"};
    }
    return {"apple_audio_mute_failed", "系统静音失败。"};
}

}  // namespace

CLIError::CLIError(Case errorCase)
    : cli::CodedError(describe(errorCase).first, describe(errorCase).second), case_(errorCase) {}

}  // namespace hushline
