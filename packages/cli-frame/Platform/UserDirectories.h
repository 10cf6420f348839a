#pragma once

#include <filesystem>

namespace cli {

// The user's folders for application data, configuration and logs. The only place that
// knows where the platform keeps them.
struct UserDirectories {
    static std::filesystem::path applicationSupport();
    static std::filesystem::path configuration();
    static std::filesystem::path logs();
};

}  // namespace cli
