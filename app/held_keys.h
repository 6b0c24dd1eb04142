// Keys that were down when an update's run ended. The run took no input, so such a
// key's auto-repeats would otherwise answer the box or press the button that shows
// next, before anyone has read it.
#pragma once

#include <bitset>
#include <cstdint>

namespace orvanta {

// What a key message says happened to its key.
enum class KeyTransition {
    pressed,   // down, and up before it: a new press
    repeated,  // down while already down: the keyboard's auto-repeat
    released,
};

class HeldKeys {
public:
    void hold(std::uint8_t key) { held_.set(key); }
    bool any() const { return held_.any(); }
    // True when the message must be dropped: a held key is ignored, its repeats and
    // its release included, until it has been released. A new press means its
    // release went elsewhere (to another program): from then on it acts again.
    bool swallows(std::uint8_t key, KeyTransition transition);

private:
    std::bitset<256> held_;
};

}  // namespace orvanta
