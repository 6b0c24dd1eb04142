// The firmware update: the procedure behind "Update", its progress window, the
// failure report and the embedded image it writes.
#pragma once

#include <cstdint>
#include <string>

#include "app/shell.h"

namespace orvanta {

// Version of the embedded image: high byte major, low byte minor (1.0).
inline constexpr std::uint16_t FIRMWARE_IMAGE_VERSION = 0x0100;

inline constexpr std::uint32_t kBlockBytes = 48;
inline constexpr std::uint32_t kBlockWords = kBlockBytes / 4;
// The unit is paced by fixed pauses, not by flow control.
inline constexpr std::uint32_t kStepPauseMs = 20;
// The bootloader erases in the background after it has answered.
inline constexpr std::uint32_t kErasePauseMs = 4000;

// The image as the build made it: its length and CRC-32, checked before the
// first command so that a damaged image never reaches an erased ESC.
ImageView loadFirmwareImage(App& app);
bool firmwareImageIntact(const ImageView& image);
std::uint32_t crc32(const std::uint8_t* data, std::size_t length);

void runFirmwareUpdate(App& app);
void reportUpdateFailure(App& app, const std::wstring& text, const std::wstring& caption,
                         std::int32_t code, std::uint32_t lastError);

// The progress window of one stream.
struct ProgressWindow {
    WindowId window = 0;
    WindowId rememberedForeground = 0;
};

inline constexpr std::int32_t kProgressWidth = 400;
inline constexpr std::int32_t kProgressHeight = 50;

void openProgressWindow(App& app, ProgressWindow& progress);
void advanceProgressWindow(App& app, ProgressWindow& progress, std::uint32_t percent);
void closeProgressWindow(App& app, ProgressWindow& progress);

}  // namespace orvanta
