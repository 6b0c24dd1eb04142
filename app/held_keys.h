// Keys that were down when an update's run ended, and keys pressed in the moment its
// outcome appears. The run took no input, so a held key's auto-repeats would otherwise
// answer the box or press the button that shows next before anyone has read it; and a
// key meant for another program may reach a box that has just come to the front.
#pragma once

#include <bitset>
#include <cstdint>
#include <functional>

namespace orvanta {

// How long after an outcome appears a new key-down is taken for a key meant for
// something else. A typist's next keys follow within a few hundred milliseconds, and a
// keyboard's auto-repeat starts within one second at its slowest setting; nobody reads
// a box or a hint and answers it that fast.
inline constexpr std::uint64_t kFreshKeyHoldMs = 1000;

class HeldKeys {
public:
    // Holds exactly the keys `isDown` names, at a run's end: a hold whose key has
    // been released since (its release dropped with the run's input) goes. An IME's
    // key-down (VK_PROCESSKEY) and a typed character (VK_PACKET) are never held: their
    // key-ups carry another key, so they would stay held for good.
    void holdKeysDown(const std::function<bool(std::uint8_t)>& isDown);
    // Until `untilMs` (on the clock `swallows` is given), a key pressed anew is held
    // too: it does nothing, its repeats and its release included.
    void holdFreshKeysUntil(std::uint64_t untilMs) { freshUntilMs_ = untilMs; }
    bool any() const { return held_.any(); }
    // True when the message must be dropped: a held key does nothing, its repeats
    // and its release included, until it has been released. Whether a key-down is
    // a repeat is not asked: where the system takes the keys' state afresh at a
    // change of focus (Wine does), repeats come as new presses.
    bool swallows(std::uint8_t key, bool keyUp, std::uint64_t nowMs);
    // A key released while another program had the keyboard sends this program no
    // release: at its next activation, every held key that `isDown` says is up is
    // let go.
    void forgetReleased(const std::function<bool(std::uint8_t)>& isDown);

private:
    void hold(std::uint8_t key);

    std::bitset<256> held_;
    std::uint64_t freshUntilMs_ = 0;
};

}  // namespace orvanta
