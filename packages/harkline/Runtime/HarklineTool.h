#pragma once

#include "cli-frame/Paths/CLIPaths.h"
#include "cli-frame/Runtime/ToolDescription.h"

namespace harkline {

const cli::ToolDescription& harklineTool();

inline cli::CLIPaths harklinePaths() { return cli::CLIPaths(harklineTool()); }

}  // namespace harkline
