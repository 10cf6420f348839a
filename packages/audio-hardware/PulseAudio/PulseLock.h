#pragma once

#include <mutex>

namespace audiohw {

// Held for every libpulse call in the process. libpulse hands memory between its contexts
// through process-wide free lists whose atomics ThreadSanitizer cannot see; one lock makes
// those hand-overs visible. Calls are short, and the event thread lets go while it polls.
std::mutex& pulseMutex();

}  // namespace audiohw
