#pragma once

#include <string_view>

#include "pickline/Platform/AtSpi/FileManagers/FileManagerStrategy.h"

namespace pickline::atspi {

// The strategy for the application with this name on the bus; null for any other application.
const FileManagerStrategy* fileManagerStrategy(std::string_view applicationName);

}  // namespace pickline::atspi
