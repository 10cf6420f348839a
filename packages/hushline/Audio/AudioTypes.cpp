#include "hushline/Audio/AudioTypes.h"

namespace hushline {

double secondsSinceReferenceDate(std::chrono::system_clock::time_point time) {
    constexpr std::chrono::sys_days referenceDate{std::chrono::year{2001} / 1 / 1};
    return std::chrono::duration<double>(time - referenceDate).count();
}

}  // namespace hushline
