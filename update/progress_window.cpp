// The progress window of the block stream: a bare progress bar as an owned top-level
// window, centred on the main dialog, advanced by the update procedure itself, with
// the taskbar button showing the same share.
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

}  // namespace

void openProgressWindow(ProgressScreen& screen, const std::wstring& title,
                        ProgressWindow& progress) {
    const WindowId main = screen.mainWindow();
    const ScreenRect rect = screen.windowRect(main);
    const std::int32_t x = centredStart(rect.left, rect.right, kProgressWidth);
    const std::int32_t y = centredStart(rect.top, rect.bottom, kProgressHeight);
    // The user may have turned to another application during the preparation: then
    // the window opens without taking the foreground, and both are brought forward
    // when the user comes back.
    const bool seen = screen.foregroundWindow() == main;
    progress.window =
        screen.createProgressWindow(title, x, y, kProgressWidth, kProgressHeight, seen);
    screen.setProgressPosition(progress.window, 0);
    screen.setTaskbarProgress(0);
    if (seen) {
        screen.raiseToTop(main);
        screen.raiseToTop(progress.window);
    }
    progress.rememberedForeground = 0;
}

void advanceProgressWindow(ProgressScreen& screen, ProgressWindow& progress,
                           std::uint32_t percent) {
    screen.setProgressPosition(progress.window, percent);
    screen.setTaskbarProgress(percent);

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
