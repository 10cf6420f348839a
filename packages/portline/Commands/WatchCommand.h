#pragma once

#include "portline/Commands/CommandContext.h"

namespace portline {

// `watch`: one event line per change of the device list or the default input device,
// between a "ready" and a "stopped" line, until SIGINT or SIGTERM, or until the reader of
// standard output has gone. Returns 0 once a stop signal has arrived and the watch has
// ended, 1 when it ended because nobody reads its lines any more.
int watchDevices(const CommandContext& context);

}  // namespace portline
