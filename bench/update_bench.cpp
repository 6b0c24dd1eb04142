// One full firmware update against the emulated unit in real time: real sleeps for
// every pause, 2 ms for every reply, and a dialog that answers OK to every box.
// Prints the wall time against the paced minimum, and the processor time spent.
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "emulator/emulated_bus.h"
#include "resources/resource_ids.h"
#include "tests/fake_surface.h"
#include "update/update.h"

namespace orvanta {
namespace {

// A real unit answers within about 2 ms (full-speed USB, polled every millisecond).
constexpr std::uint32_t kReplyLatencyMs = 2;

class SteadyClock final : public Clock {
public:
    void sleepMs(std::uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    std::uint64_t nowMs() const override {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }
    // The host's sleeps are as fine as they get already.
    void setPreciseTiming(bool /*on*/) override {}
};

double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int run() {
    std::ifstream file(ORVANTA_FIRMWARE_IMAGE_FILE, std::ios::binary);
    const std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(file), {}};
    if (image.empty()) {
        std::fprintf(stderr, "cannot read the firmware image %s\n", ORVANTA_FIRMWARE_IMAGE_FILE);
        return 1;
    }

    SteadyClock clock;
    EmulatedBus bus(clock);
    UnitConfig config;
    config.replyLatencyMs = kReplyLatencyMs;
    EmulatedUnit& unit = bus.addUnit(config);
    // Unscripted boxes answer OK.
    test::FakeSurface surface;
    surface.image = ImageView{image.data(), image.size()};
    App app(surface, surface, bus, clock);
    classifyUnit(app, openLink(app.link), ProbeVariant::startUp);
    if (!app.link.isOpen()) {
        std::fprintf(stderr, "the emulated unit was not found ready\n");
        return 1;
    }

    const std::uint32_t exchangesBefore = unit.exchangeCount();
    const double cpuStart = processorSeconds();
    const auto start = std::chrono::steady_clock::now();
    runUpdate(app, surface);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = processorSeconds() - cpuStart;
    const std::uint32_t exchanges = unit.exchangeCount() - exchangesBefore;
    // The least a successful run takes: the program's pauses and the unit's wait
    // before it answers the erase.
    const double pacedSeconds =
        static_cast<double>(updatePausesMs(blockCount(image.size())) + kEraseReplyDelayMs) / 1000.0;

    const bool succeeded =
        surface.controlTextOf(IDC_HINT_PANEL) == surface.text(IDS_UPDATE_SUCCEEDED);
    const double pacedWithLatency = pacedSeconds + exchanges * (kReplyLatencyMs / 1000.0);
    std::printf("native, emulated unit, one update (%s)\n", succeeded ? "succeeded" : "FAILED");
    std::printf("  wall time                      %8.3f s\n", wall);
    std::printf("  ratio to %.2f s                %8.4f\n", pacedSeconds, wall / pacedSeconds);
    std::printf("  ratio to %.2f s + %u x 2 ms  %8.4f  (%.3f s)\n", pacedSeconds, exchanges,
                wall / pacedWithLatency, pacedWithLatency);
    std::printf("  CPU time                       %8.3f s = %.1f %% of wall time\n", cpu,
                100.0 * cpu / wall);
    return succeeded ? 0 : 1;
}

}  // namespace
}  // namespace orvanta

int main() { return orvanta::run(); }
