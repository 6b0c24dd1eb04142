// Which key messages a key held across the end of an update, one that answered a box,
// or one pressed as a box or an update's outcome appears, may still send.
#include "app/held_keys.h"

namespace orvanta {
namespace {

// The keys' published virtual-key codes.
constexpr std::uint8_t kCancel = 0x03;  // Ctrl+Break, taken for Esc by a dialog
constexpr std::uint8_t kReturn = 0x0D;
constexpr std::uint8_t kEscape = 0x1B;
constexpr std::uint8_t kSpace = 0x20;
constexpr std::uint8_t kDigit0 = 0x30;
constexpr std::uint8_t kDigit9 = 0x39;
constexpr std::uint8_t kLetterA = 0x41;
constexpr std::uint8_t kLetterZ = 0x5A;
constexpr std::uint8_t kNumPad0 = 0x60;
constexpr std::uint8_t kNumPad9 = 0x69;
constexpr std::uint8_t kF4 = 0x73;
// An IME's key-down; its key-up carries the real key.
constexpr std::uint8_t kProcessKey = 0xE5;
constexpr std::uint8_t kPacket = 0xE7;

}  // namespace

bool canAnswer(std::uint8_t key, bool altDown) {
    switch (key) {
    case kCancel:
    case kReturn:
    case kEscape:
    case kSpace:
    case kProcessKey:
    case kPacket:
        return true;
    case kF4:
        return altDown;
    default:
        return (key >= kDigit0 && key <= kDigit9) || (key >= kLetterA && key <= kLetterZ) ||
               (key >= kNumPad0 && key <= kNumPad9);
    }
}

void HeldKeys::hold(std::uint8_t key) {
    if (key != kProcessKey) held_.set(key);
}

void HeldKeys::holdKeysDown(const std::function<bool(std::uint8_t)>& isDown) {
    held_.reset();
    pressed_.reset();
    holdKeysDownToo(isDown);
}

void HeldKeys::holdKeysDownToo(const std::function<bool(std::uint8_t)>& isDown) {
    for (std::size_t key = 0; key < pressed_.size(); ++key) {
        const auto code = static_cast<std::uint8_t>(key);
        if (canAnswer(code, true) && isDown(code)) pressed_.set(key);
    }
    held_ |= pressed_;
    held_.reset(kProcessKey);
}

bool HeldKeys::swallows(std::uint8_t key, bool keyUp, std::uint64_t nowMs, KeyContext context) {
    const bool answers = canAnswer(key, context.altDown);
    if (!keyUp && letGo_.test(key) && (context.wasDown || nowMs < letGoUntilMs_)) hold(key);
    letGo_.reset(key);
    if (answers || keyUp) pressed_[key] = !keyUp;
    const bool fresh = answers && !keyUp && nowMs < freshUntilMs_;
    if (fresh) {
        // Keys that could answer still coming, held or new: someone types on or holds
        // a key down, and has not yet read what has just appeared.
        freshUntilMs_ = nowMs + kFreshKeyHoldMs;
        hold(key);
    }
    if (!held_.test(key)) return fresh;
    if (keyUp) held_.reset(key);
    return true;
}

void HeldKeys::forgetReleased(const std::function<bool(std::uint8_t)>& isDown, std::uint64_t nowMs,
                              std::uint64_t repeatIntervalMs) {
    for (std::size_t key = 0; key < held_.size(); ++key) {
        if (isDown(static_cast<std::uint8_t>(key))) continue;
        letGo_[key] = held_.test(key);
        held_.reset(key);
        pressed_.reset(key);
    }
    letGoUntilMs_ = nowMs + repeatIntervalMs;
}

}  // namespace orvanta
