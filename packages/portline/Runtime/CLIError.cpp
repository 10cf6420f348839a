#include "portline/Runtime/CLIError.h"

namespace portline {
namespace {

const char* codeOf(CLIError::Case errorCase) {
    using Case = CLIError::Case;
    switch (errorCase) {
        case Case::invalidArgument: return "INVALID_ARGUMENT";
        case Case::deviceNotFound: return "DEVICE_NOT_FOUND";
        case Case::internalError: return "INTERNAL_ERROR";
        case Case::commandMissing: return "UNKNOWN_COMMAND";
        case Case::noDefaultDevice: return "NO_DEFAULT_DEVICE";
        case Case::enumFailed: return "ENUM_FAILED";
        case Case::setDefaultFailed: return "SET_DEFAULT_FAILED";
    }
    return "INTERNAL_ERROR";
}

std::string messageOf(CLIError::Case errorCase, const std::string& carried) {
    using Case = CLIError::Case;
    switch (errorCase) {
        case Case::invalidArgument: return "参数无效：" + carried;
        case Case::deviceNotFound: return "未找到指定 UID 的设备：" + carried;
        case Case::internalError: return "内部错误：" + carried;
        case Case::commandMissing: return "未知命令，支持的命令：list, get-default, set-default, watch";
        case Case::noDefaultDevice: return "未找到默认输入设备";
        case Case::enumFailed: return "枚举音频设备失败";
        case Case::setDefaultFailed: return "设置默认设备失败";
    }
    return carried;
}

}  // namespace

CLIError::CLIError(Case errorCase, const std::string& carried)
    : cli::CodedError(codeOf(errorCase), messageOf(errorCase, carried)), case_(errorCase) {}

}  // namespace portline
