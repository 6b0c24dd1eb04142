// Keys that were down when an update's run ended, the key that pressed a button or
// answered a box, and keys pressed while an update's outcome appears. The run took no
// input, so a held key's auto-repeats would otherwise answer the box or press the button
// that shows next before anyone has read it; and keys meant for another program may
// reach a box that has just come to the front.
#pragma once

#include <bitset>
#include <cstdint>
#include <functional>

namespace orvanta {

// After an outcome appears, new key-downs are held until none has come for this long.
// A typist's next key follows within a few hundred milliseconds, and a keyboard's
// auto-repeat starts within one second at its slowest setting and then comes at least
// twice a second; nobody reads a box or a hint and answers it that fast.
inline constexpr std::uint64_t kFreshKeyHoldMs = 1000;

class HeldKeys {
public:
    // Holds exactly the keys `isDown` names, at a run's end: a hold whose key has
    // been released since (its release dropped with the run's input) goes.
    void holdKeysDown(const std::function<bool(std::uint8_t)>& isDown);
    // Holds as well the keys `isDown` names and those whose last message here was a
    // key-down, as a box opens or has been answered: the key that pressed the button
    // behind it, or answered it, is still down. The messages count where the system
    // takes the keys' state afresh at a change of focus (Wine does), as a box's does.
    void holdKeysDownToo(const std::function<bool(std::uint8_t)>& isDown);
    // From `nowMs` (on the clock `swallows` is given), a key pressed anew is held too,
    // until no key-down has come for kFreshKeyHoldMs.
    void holdFreshKeysFrom(std::uint64_t nowMs) { freshUntilMs_ = nowMs + kFreshKeyHoldMs; }
    bool any() const { return held_.any(); }
    // True when the message must be dropped: a held key does nothing, its repeats
    // and its release included, until it has been released. Whether a key-down is
    // a repeat is not asked: where the system takes the keys' state afresh at a
    // change of focus (Wine does), repeats come as new presses. An IME's key-down
    // (VK_PROCESSKEY) is dropped while fresh keys are held but never held itself: its
    // key-up carries the real key. A character typed by another program or a touch
    // keyboard (VK_PACKET) is held like any key: its key-up is a VK_PACKET too.
    bool swallows(std::uint8_t key, bool keyUp, std::uint64_t nowMs);
    // A key released while another program had the keyboard sends this program no
    // release: at its next activation (at `nowMs`), every key that `isDown` says is up
    // is let go and counts as up. A key-down of a key let go that comes within
    // kFreshKeyHoldMs is taken for its repeat and holds it again: where the system
    // takes the keys' state afresh at a change of focus (Wine does, for keys given
    // with SendInput), a key still held down may read as up.
    void forgetReleased(const std::function<bool(std::uint8_t)>& isDown, std::uint64_t nowMs);

private:
    void hold(std::uint8_t key);

    std::bitset<256> held_;
    // The keys whose last message `swallows` was asked about was a key-down.
    std::bitset<256> pressed_;
    // The keys the last activation let go, until a message of theirs or letGoUntilMs_.
    std::bitset<256> letGo_;
    std::uint64_t letGoUntilMs_ = 0;
    std::uint64_t freshUntilMs_ = 0;
};

}  // namespace orvanta
