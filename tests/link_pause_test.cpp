// Pauses on a system whose sleeps end early or late: never shorter than asked, and
// not spun away on the processor where a sleep would do.
#include <gtest/gtest.h>

#include <string>

#include "link/clock.h"

namespace orvanta {
namespace {

// A system timer that rounds every sleep to its own ticks, as Windows does when the
// process's timer resolution is not honoured.
class TickedSystem final : public PauseParts {
public:
    // early: a sleep ends at the last tick before it is due; otherwise at the first
    // tick after. A tick of 0 ends every sleep almost at once.
    TickedSystem(std::uint64_t tickUs, bool early) : tickUs_(tickUs), early_(early) {}

    void coarseSleepMs(std::uint32_t ms) override {
        ++sleeps;
        const std::uint64_t due = nowUs_ + ms * 1000u;
        if (tickUs_ == 0) {
            nowUs_ += kYieldUs;
            return;
        }
        const std::uint64_t ticks = early_ ? due / tickUs_ : (due + tickUs_ - 1) / tickUs_;
        if (ticks * tickUs_ > nowUs_) nowUs_ = ticks * tickUs_;
    }
    std::uint64_t counterUs() const override { return nowUs_; }
    void yieldSlice() override {
        ++yields;
        nowUs_ += kYieldUs;
    }

    static constexpr std::uint64_t kYieldUs = 50;
    int sleeps = 0;
    int yields = 0;

private:
    std::uint64_t nowUs_ = 3000;  // off the ticks, as a pause rarely starts on one
    std::uint64_t tickUs_;
    bool early_;
};

// Yields of at most a tick and a millisecond: the rest no sleep could be trusted with.
constexpr int kYieldsOfATick = (kCoarseTickMs + 1) * 1000 / TickedSystem::kYieldUs;

struct PauseCase {
    const char* name;
    std::uint64_t tickUs;
    bool early;
    std::uint32_t pauseMs;
    int maxYields;  // how much of the pause may be spent yielding
};

class PauseTest : public ::testing::TestWithParam<PauseCase> {};

TEST_P(PauseTest, NeverShorterThanAskedAndNotMuchLonger) {
    const PauseCase& c = GetParam();
    TickedSystem system(c.tickUs, c.early);
    const std::uint64_t startUs = system.counterUs();
    pauseAtLeast(system, c.pauseMs);
    const std::uint64_t tookUs = system.counterUs() - startUs;
    EXPECT_GE(tookUs, c.pauseMs * 1000u);
    // At most one last yield, or one late tick, beyond the pause.
    EXPECT_LE(tookUs, c.pauseMs * 1000u + std::max(c.tickUs, TickedSystem::kYieldUs));
    EXPECT_LE(system.yields, c.maxYields);
}

INSTANTIATE_TEST_SUITE_P(
    Clock, PauseTest,
    ::testing::Values(
        // 1 ms ticks: the sleep alone is enough.
        PauseCase{"FineTimer", 1000, false, 20, 0},
        // 15.6 ms ticks rounding down: 20 ms would end after 15.6; the rest is yielded.
        PauseCase{"CoarseTimerEndsEarly", 15625, true, 20, kYieldsOfATick},
        // Rounding up only makes the pause longer; nothing is yielded.
        PauseCase{"CoarseTimerEndsLate", 15625, false, 20, 0},
        // A sleep that returns at once: a long pause is slept again, not spun away.
        PauseCase{"SleepReturnsAtOnce", 0, true, 1000, kYieldsOfATick},
        PauseCase{"NoPause", 15625, true, 0, 0}),
    [](const ::testing::TestParamInfo<PauseCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvanta
