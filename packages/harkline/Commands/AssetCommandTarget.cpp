#include "harkline/Commands/AssetCommandTarget.h"

#include "harkline/Runtime/CLIError.h"

namespace harkline {

AssetCommandTarget AssetCommandTarget::fromArguments(const cli::CommandArguments& arguments, const SystemInfo& system) {
    auto locale = arguments.value("--locale").value_or(system.currentLocaleIdentifier());
    if (locale.empty()) throw CLIError(CLIError::Case::assetsLocaleInvalid);
    return {std::move(locale)};
}

}  // namespace harkline
