// Which key messages a key held across the end of an update, or pressed as its
// outcome appears, may still send.
#include "app/held_keys.h"

namespace orvanta {
namespace {

// An IME's key-down, and a character typed by another program or a touch keyboard.
constexpr std::uint8_t kProcessKey = 0xE5;
constexpr std::uint8_t kPacket = 0xE7;

}  // namespace

void HeldKeys::hold(std::uint8_t key) {
    if (key != kProcessKey && key != kPacket) held_.set(key);
}

void HeldKeys::holdKeysDown(const std::function<bool(std::uint8_t)>& isDown) {
    held_.reset();
    for (std::size_t key = 0; key < held_.size(); ++key) {
        if (isDown(static_cast<std::uint8_t>(key))) hold(static_cast<std::uint8_t>(key));
    }
}

bool HeldKeys::swallows(std::uint8_t key, bool keyUp, std::uint64_t nowMs) {
    if (!held_.test(key)) {
        if (keyUp || nowMs >= freshUntilMs_) return false;
        // Too early to be meant for what has just appeared.
        hold(key);
        return true;
    }
    if (keyUp) held_.reset(key);
    return true;
}

void HeldKeys::forgetReleased(const std::function<bool(std::uint8_t)>& isDown) {
    for (std::size_t key = 0; key < held_.size(); ++key) {
        if (held_.test(key) && !isDown(static_cast<std::uint8_t>(key))) held_.reset(key);
    }
}

}  // namespace orvanta
