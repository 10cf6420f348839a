#pragma once

#include <optional>

#include "cli-frame/Json/Json.h"
#include "harkline/Platform/Speech/WarmEngine/WarmEngineConnector.h"

namespace harkline {

// What the user's warm engine holds: {"pid", "residentBytes", "loads" (models loaded
// since it started), "models": [{"locale", "engine", "directory", "fileBytes",
// "dictations"}]}; none when no engine serves. Asking starts no engine.
std::optional<cli::Json> queryWarmEngineState(const WarmEngineConnector& connector);

}  // namespace harkline
