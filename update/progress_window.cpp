// The progress window of the block stream: a bare progress bar as an owned top-level
// window, centred on the main dialog and kept on its monitor's work area, advanced by
// the update procedure itself, with the taskbar button showing the same share.
#include <cstdint>
#include <string>

#include "update/update.h"

namespace orvanta {
namespace {

// Centres a span of the given size on [low, high); the half is taken with an
// arithmetic shift so that a reversed rectangle still gives a defined position.
std::int32_t centredStart(std::int32_t low, std::int32_t high, std::int32_t size) {
    const std::int64_t span = static_cast<std::int64_t>(high) - low;
    return static_cast<std::int32_t>(low + (span >> 1) - size / 2);
}

// Moves a span of the given size inside [low, high); one that does not fit starts at
// `low`, so that its beginning (a window's caption) is seen.
std::int32_t keptInside(std::int32_t start, std::int32_t size, std::int32_t low,
                        std::int32_t high) {
    const std::int64_t lastStart = static_cast<std::int64_t>(high) - size;
    if (start > lastStart) start = static_cast<std::int32_t>(lastStart);
    return start < low ? low : start;
}

}  // namespace

ScreenRect placeOverMainWindow(const MainWindowPlace& place, std::int32_t width,
                               std::int32_t height) {
    ScreenRect over = place.rect;
    if (place.minimised) {
        // Workspace to screen coordinates: the offset of the work area in its monitor.
        const std::int32_t dx = place.workArea.left - place.monitor.left;
        const std::int32_t dy = place.workArea.top - place.monitor.top;
        over = ScreenRect{place.restored.left + dx, place.restored.top + dy,
                          place.restored.right + dx, place.restored.bottom + dy};
    }
    const std::int32_t x = keptInside(centredStart(over.left, over.right, width), width,
                                      place.workArea.left, place.workArea.right);
    const std::int32_t y = keptInside(centredStart(over.top, over.bottom, height), height,
                                      place.workArea.top, place.workArea.bottom);
    return ScreenRect{x, y, x + width, y + height};
}

void openProgressWindow(ProgressScreen& screen, const std::wstring& title,
                        const std::wstring& shutdownReason, ProgressWindow& progress) {
    const WindowId main = screen.mainWindow();
    const ScreenRect rect =
        placeOverMainWindow(screen.mainWindowPlace(), kProgressWidth, kProgressHeight);
    // The user may have turned to another application during the preparation: then
    // the window opens without taking the foreground, and both are brought forward
    // when the user comes back.
    const bool seen = screen.foregroundWindow() == main;
    progress.window = screen.createProgressWindow(title, rect, seen, shutdownReason);
    screen.setProgressPosition(progress.window, 0);
    screen.setTaskbarProgress(0);
    progress.taskbarPercent = 0;
    if (seen) {
        screen.raiseToTop(main);
        screen.raiseToTop(progress.window);
    }
    progress.rememberedForeground = 0;
}

void advanceProgressWindow(ProgressScreen& screen, ProgressWindow& progress,
                           std::uint32_t percent) {
    // The bar is set at every block: that also paints what another window uncovered,
    // since no message loop runs to do it.
    screen.setProgressPosition(progress.window, percent);
    if (percent != progress.taskbarPercent) {
        screen.setTaskbarProgress(percent);
        progress.taskbarPercent = percent;
    }

    // Bring both windows forward once, the first time the user is looking at the
    // program, but never steal the foreground from another application.
    const WindowId main = screen.mainWindow();
    if (progress.rememberedForeground == main || progress.rememberedForeground == progress.window) {
        return;
    }
    const WindowId foreground = screen.foregroundWindow();
    if (foreground != main && foreground != progress.window) return;
    progress.rememberedForeground = foreground;
    screen.raiseToTop(main);
    screen.raiseToTop(progress.window);
    screen.showWindow(main);
    screen.showWindow(progress.window);
}

void closeProgressWindow(ProgressScreen& screen, ProgressWindow& progress) {
    screen.destroyWindow(progress.window);
    progress.window = 0;
}

bool askForAttentionIfUnseen(ProgressScreen& screen) {
    if (screen.foregroundWindow() == screen.mainWindow()) return false;
    screen.flashTaskbarButton();
    return true;
}

}  // namespace orvanta
