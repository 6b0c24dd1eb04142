// Pauses that are never shorter than asked, whatever the system's timer does.
#include "link/clock.h"

namespace orvanta {

void pauseAtLeast(PauseParts& parts, std::uint32_t ms) {
    constexpr std::uint64_t kUsPerMs = 1000;
    const std::uint64_t endUs = parts.counterUs() + ms * kUsPerMs;
    parts.coarseSleepMs(ms);
    for (std::uint64_t nowUs = parts.counterUs(); nowUs < endUs; nowUs = parts.counterUs()) {
        const std::uint64_t restMs = (endUs - nowUs) / kUsPerMs;
        if (restMs > kCoarseTickMs) {
            parts.coarseSleepMs(static_cast<std::uint32_t>(restMs - kCoarseTickMs));
        } else {
            parts.yieldSlice();
        }
    }
}

}  // namespace orvanta
