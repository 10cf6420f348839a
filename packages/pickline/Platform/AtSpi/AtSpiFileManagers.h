#pragma once

#include <string_view>

#include "pickline/Platform/AccessibilityPlatform.h"
#include "pickline/Platform/AtSpi/AtSpiTree.h"

namespace pickline::atspi {

// The file managers whose selection is read as files, by their application name on the bus.
bool isKnownFileManager(std::string_view applicationName);

// The selected items of the file manager that owns the active window, as paths.
FileManagerSelection readFileManagerSelection(AtSpiTree& tree, const AtSpiTree::ActiveWindow& active);

}  // namespace pickline::atspi
