// The firmware update: the procedure behind "Update", its progress window, the
// failure report and the embedded image it writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/unit_link.h"
#include "resources/program_resources.h"
#include "update/progress_screen.h"
#include "update/update_dialog.h"

namespace orvanta {

// The unit is paced by fixed pauses, not by flow control.
// Between two preparation steps, and from the last one to the first block.
inline constexpr std::uint32_t kPreparationPauseMs = 20;
// The bootloader erases in the background after it has answered.
inline constexpr std::uint32_t kErasePauseMs = 4000;
// After every block, the last one included: the bootloader writes it to flash.
inline constexpr std::uint32_t kBlockPauseMs = 20;

// The blocks an image of `imageBytes` is sent in; a short last one counts.
constexpr std::uint32_t blockCount(std::size_t imageBytes) {
    return static_cast<std::uint32_t>((imageBytes + kBlockBytes - 1) / kBlockBytes);
}
// Everything the program itself waits in an update of `blocks` blocks: the pauses
// after lock, unlock, erase and address, and after every block.
constexpr std::uint64_t updatePausesMs(std::uint32_t blocks) {
    return 4 * kPreparationPauseMs + kErasePauseMs + std::uint64_t{blocks} * kBlockPauseMs;
}

// The image as the build made it: its length and CRC-32, checked before the
// first command so that a damaged image never reaches an erased ESC.
bool firmwareImageIntact(const ImageView& image);
std::uint32_t crc32(const std::uint8_t* data, std::size_t length);

// The update behind "Update", on an open link, showing its boxes, hints and panel
// through `dialog` and its progress through `screen`. True when the new firmware is
// in place.
bool runFirmwareUpdate(UnitLink& link, UpdateDialog& dialog, ProgramResources& resources,
                       ProgressScreen& screen);
// The end of a failed update: the link closed, a box with the step's text and its
// codes, then the hint.
void reportUpdateFailure(UnitLink& link, UpdateDialog& dialog, ProgramResources& resources,
                         const std::wstring& text, const std::wstring& caption, std::int32_t code,
                         std::uint32_t lastError);

// The progress window of one stream.
struct ProgressWindow {
    WindowId window = 0;
    WindowId rememberedForeground = 0;
    // The share the taskbar button shows: each value is a message to the shell, so it
    // is told only of a change.
    std::uint32_t taskbarPercent = 0;
};

inline constexpr std::int32_t kProgressWidth = 400;
inline constexpr std::int32_t kProgressHeight = 50;

// Where a window of the given size goes: centred on the main window (where it stands
// once restored, if it is minimised), then moved wholly onto its monitor's work area.
ScreenRect placeOverMainWindow(const MainWindowPlace& place, std::int32_t width,
                               std::int32_t height);
void openProgressWindow(ProgressScreen& screen, const std::wstring& title,
                        const std::wstring& shutdownReason, ProgressWindow& progress);
void advanceProgressWindow(ProgressScreen& screen, ProgressWindow& progress, std::uint32_t percent);
void closeProgressWindow(ProgressScreen& screen, ProgressWindow& progress);

// Flashes the main window's taskbar button when the main window is not in the
// foreground as a run's outcome is about to show; true when it asked for the flash.
bool askForAttentionIfUnseen(ProgressScreen& screen);

}  // namespace orvanta
