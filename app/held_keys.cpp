// Which key messages a key held across the end of an update may still send.
#include "app/held_keys.h"

namespace orvanta {

bool HeldKeys::swallows(std::uint8_t key, bool keyUp) {
    if (!held_.test(key)) return false;
    if (keyUp) held_.reset(key);
    return true;
}

void HeldKeys::forgetReleased(const std::function<bool(std::uint8_t)>& isDown) {
    for (std::size_t key = 0; key < held_.size(); ++key) {
        if (held_.test(key) && !isDown(static_cast<std::uint8_t>(key))) held_.reset(key);
    }
}

}  // namespace orvanta
