// Keys that were down when an update's run ended. The run took no input, so such a
// key's auto-repeats would otherwise answer the box or press the button that shows
// next, before anyone has read it.
#pragma once

#include <bitset>
#include <cstdint>
#include <functional>

namespace orvanta {

class HeldKeys {
public:
    void hold(std::uint8_t key) { held_.set(key); }
    bool any() const { return held_.any(); }
    // True when the message must be dropped: a held key does nothing, its repeats
    // and its release included, until it has been released. Whether a key-down is
    // a repeat is not asked: where the system takes the keys' state afresh at a
    // change of focus (Wine does), repeats come as new presses.
    bool swallows(std::uint8_t key, bool keyUp);
    // A key released while another program had the keyboard sends this program no
    // release: at its next activation, every held key that `isDown` says is up is
    // let go.
    void forgetReleased(const std::function<bool(std::uint8_t)>& isDown);

private:
    std::bitset<256> held_;
};

}  // namespace orvanta
