// Keys that were down when an update's run ended, the key that pressed a button or
// answered a box, and keys pressed while a box or an update's outcome appears, and
// clicks on a box that has just appeared. The run took no input, so a held key's
// auto-repeats would otherwise answer the box or press the button that shows next
// before anyone has read it; keys meant for another program may reach a box that has
// just come to the front; and a second quick press, a bouncing key or the second click
// of a double-click would answer a box that nobody has read.
#pragma once

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <functional>

namespace orvanta {

// After a box or an outcome appears, new key-downs are held until none has come for
// this long.
// A typist's next key follows within a few hundred milliseconds, and a keyboard's
// auto-repeat starts within one second at its slowest setting and then comes at least
// twice a second; nobody reads a box or a hint and answers it that fast.
inline constexpr std::uint64_t kFreshKeyHoldMs = 1000;

// The keyboard's repeat interval at a repeat-speed setting (SPI_GETKEYBOARDSPEED): from
// 0, some 2.5 repeats a second, to 31, some 30, in even steps; rounded up.
inline std::uint64_t keyRepeatIntervalMs(std::uint32_t speed) {
    constexpr std::uint64_t kSteps = 31;
    const std::uint64_t step = speed > kSteps ? kSteps : speed;
    // 2.5 + step * 27.5 / 31 repeats a second, in tenths of a repeat over 31.
    const std::uint64_t tenthsPer31 = (25 * kSteps) + (step * 275);
    return ((10000 * kSteps) + tenthsPer31 - 1) / tenthsPer31;
}

// True for a key that can answer a box or press a button, alone or with the modifiers
// down with it: Return, Space, Esc and Ctrl+Break, letters and digits (the buttons'
// mnemonics, the number pad's digits included), a character typed by another program
// or a touch keyboard (VK_PACKET), an IME's key (VK_PROCESSKEY), and F4 with Alt. Every
// other key (Tab, the arrows, Home, End, Page Up and Down, Shift, Ctrl, Alt alone, the
// Windows and Apps keys, Insert, the locks, the function keys) only moves about or
// stops a screen reader's speech.
bool canAnswer(std::uint8_t key, bool altDown);

// What a key message says beside its key: Alt was down with it (bit 29 of a system
// key's lParam), and the key was down before it (bit 30: an auto-repeat).
struct KeyContext {
    bool altDown = false;
    bool wasDown = false;
};

class HeldKeys {
public:
    // Holds exactly the keys `isDown` names that can answer (F4 whether Alt is down or
    // not), at a run's end: a hold whose key has been released since (its release
    // dropped with the run's input) goes.
    void holdKeysDown(const std::function<bool(std::uint8_t)>& isDown);
    // Holds as well the keys `isDown` names and those whose last message here was a
    // key-down, as a box opens or has been answered: the key that pressed the button
    // behind it, or answered it, is still down. The messages count where the system
    // takes the keys' state afresh at a change of focus (Wine does), as a box's does.
    void holdKeysDownToo(const std::function<bool(std::uint8_t)>& isDown);
    // From `nowMs` (on the clock `swallows` is given), a key pressed anew is held too,
    // until no key-down has come for kFreshKeyHoldMs.
    void holdFreshKeysFrom(std::uint64_t nowMs) { freshUntilMs_ = nowMs + kFreshKeyHoldMs; }
    // A box appears at `nowMs`: fresh keys are held as at an outcome, and a click does
    // nothing until `doubleClickMs` (the system's double-click time) has passed, so that
    // the second click of a double-click meant for the button behind it answers nothing;
    // nor, like a key, within kFreshKeyHoldMs, so that no box is answered unread.
    void boxAppears(std::uint64_t nowMs, std::uint64_t doubleClickMs) {
        holdFreshKeysFrom(nowMs);
        clicksHeldUntilMs_ = nowMs + std::max(doubleClickMs, kFreshKeyHoldMs);
    }
    // True when a mouse button's press at `nowMs` must be dropped.
    bool swallowsClick(std::uint64_t nowMs) const { return nowMs < clicksHeldUntilMs_; }
    bool any() const { return held_.any(); }
    // True when the message must be dropped: a held key does nothing, its repeats
    // and its release included, until it has been released. Only a key that can
    // answer is held, and only its key-down keeps the fresh-key hold going; any other
    // key passes. An IME's key-down (VK_PROCESSKEY) is dropped while fresh keys are
    // held but never held itself: its key-up carries the real key. A character typed
    // by another program or a touch keyboard (VK_PACKET) is held like any key: its
    // key-up is a VK_PACKET too.
    bool swallows(std::uint8_t key, bool keyUp, std::uint64_t nowMs, KeyContext context = {});
    // A key released while another program had the keyboard sends this program no
    // release: at its next activation (at `nowMs`), every key that `isDown` says is up
    // is let go and counts as up. A key-down of a key let go is its repeat, and holds
    // it again, when it says the key was down before it, or when it comes within
    // `repeatIntervalMs` (the keyboard's repeat interval) of the activation: where the
    // system takes the keys' state afresh at a change of focus (Wine does, for keys
    // given with SendInput), a key still repeating reads as up and its next repeat
    // comes as a press, within one interval. A real press needs a release first.
    void forgetReleased(const std::function<bool(std::uint8_t)>& isDown, std::uint64_t nowMs,
                        std::uint64_t repeatIntervalMs);

private:
    void hold(std::uint8_t key);

    std::bitset<256> held_;
    // The keys whose last message `swallows` was asked about was a key-down.
    std::bitset<256> pressed_;
    // The keys the last activation let go, until a message of theirs or letGoUntilMs_.
    std::bitset<256> letGo_;
    std::uint64_t letGoUntilMs_ = 0;
    std::uint64_t freshUntilMs_ = 0;
    std::uint64_t clicksHeldUntilMs_ = 0;
};

}  // namespace orvanta
