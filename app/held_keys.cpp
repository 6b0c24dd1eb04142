// Which key messages a key held across the end of an update, one that answered a box,
// or one pressed as an update's outcome appears, may still send.
#include "app/held_keys.h"

namespace orvanta {
namespace {

// An IME's key-down; its key-up carries the real key.
constexpr std::uint8_t kProcessKey = 0xE5;

}  // namespace

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
        if (isDown(static_cast<std::uint8_t>(key))) pressed_.set(key);
    }
    held_ |= pressed_;
    held_.reset(kProcessKey);
}

bool HeldKeys::swallows(std::uint8_t key, bool keyUp, std::uint64_t nowMs) {
    if (!keyUp && letGo_.test(key) && nowMs < letGoUntilMs_) hold(key);
    letGo_.reset(key);
    pressed_[key] = !keyUp;
    const bool fresh = !keyUp && nowMs < freshUntilMs_;
    if (fresh) {
        // Keys still coming, held or new: someone types on or holds a key down, and
        // has not yet read what has just appeared.
        freshUntilMs_ = nowMs + kFreshKeyHoldMs;
        hold(key);
    }
    if (!held_.test(key)) return fresh;
    if (keyUp) held_.reset(key);
    return true;
}

void HeldKeys::forgetReleased(const std::function<bool(std::uint8_t)>& isDown,
                              std::uint64_t nowMs) {
    for (std::size_t key = 0; key < held_.size(); ++key) {
        if (isDown(static_cast<std::uint8_t>(key))) continue;
        letGo_[key] = held_.test(key);
        held_.reset(key);
        pressed_.reset(key);
    }
    letGoUntilMs_ = nowMs + kFreshKeyHoldMs;
}

}  // namespace orvanta
