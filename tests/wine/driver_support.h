// Helpers of the Windows test driver: starting the program, finding its windows,
// reading and clicking controls through window messages, screenshots. The driver
// runs under Wine beside the program and waits by bounded polling only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "resources/catalogue.h"
#include "tests/wine/scenarios.h"

namespace orvanta::driver {

// Time limits the scenarios share: a start up to the first probe's hint, a message
// box to come or go, the preparation (a little over 5 s) up to the stream, and a
// whole stream (some 45 s under Wine).
inline constexpr std::uint32_t kStartTimeoutMs = 60000;
inline constexpr std::uint32_t kBoxTimeoutMs = 20000;
inline constexpr std::uint32_t kProgressTimeoutMs = 30000;
inline constexpr std::uint32_t kStreamTimeoutMs = 180000;

// Counts failed checks; the driver's exit code is nonzero when any failed.
int& failures();
void check(bool condition, const std::string& what);
void checkText(const std::wstring& actual, const std::wstring& expected, const std::string& what);
std::string narrow(const std::wstring& text);
// ASCII text (names, language tags) as a wide string.
std::wstring widen(const std::string& text);

// Polls until the predicate holds or timeoutMs runs out, taking sent messages (and so
// WinEvents) between polls; nothing posted is taken.
bool waitFor(const std::function<bool()>& predicate, std::uint32_t timeoutMs,
             std::uint32_t pollMs = 50);

// The driver runs under Wine, not on Windows itself. What only Wine offers is used only
// then: the lines its stubs print (wineOutputLines); Xvfb and the language taken from
// LANG belong to tools/wine-run and to the tests' registration.
bool underWine();

// A Unix path handed over by ctest, turned into a Windows one (Wine maps / to Z:).
std::wstring windowsPath(const std::string& path);

class Program {
public:
    Program() = default;
    ~Program();  // a program still running is terminated, so nothing is left behind
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool start(const std::wstring& exePath,
               const std::vector<std::pair<std::wstring, std::wstring>>& environment = {});
    DWORD processId() const { return info_.dwProcessId; }
    HANDLE process() const { return info_.hProcess; }
    // Waits for the process to end; false when it does not within timeoutMs.
    bool waitForExit(std::uint32_t timeoutMs, DWORD& exitCode);
    bool running() const;

private:
    PROCESS_INFORMATION info_ = {};
    bool started_ = false;
};

// The program has taken every message and input waiting for it and sits in its
// message loop again. Under Wine the wait may end before a key just typed has been
// taken: that the key did nothing is seen only by watching for as long as it may act.
void waitUntilIdle(const Program& program);

// Visible top-level windows of a process with the given class ("#32770" for dialogs).
std::vector<HWND> topLevelWindows(DWORD processId, const wchar_t* className = nullptr);
// The main dialog: the process's visible dialog that holds control 40004.
HWND findMainDialog(DWORD processId);
// A message box: the process's visible dialog other than the main dialog.
HWND findMessageBox(DWORD processId, HWND mainDialog);

std::wstring windowText(HWND window);
std::wstring controlText(HWND dialog, int id);
bool controlEnabled(HWND dialog, int id);
// The message box's text (its static control 0xFFFF).
std::wstring messageBoxText(HWND box);
void pressButton(HWND dialog, int id);

Language userLanguage();
std::wstring catalogueString(std::uint32_t id);

// Saves the window's area of the screen as a 24-bit BMP (on Windows the window itself,
// whatever stands in front of it); the pixels are returned too, top-down, BGR. Empty, and nothing
// saved, when the window was hidden, closed or moved during the copy.
struct Capture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgr;
};
Capture captureWindow(HWND window, const std::wstring& bmpPath);

// --- The emulated build ------------------------------------------------------------

bool fileExists(const std::wstring& path);
// Writes the file through a temporary one and a rename, so that a reader polling for
// it never sees it half written.
bool writeFileWhole(const std::wstring& path, const std::string& text);
bool readFileBytes(const std::wstring& path, std::vector<std::uint8_t>& out);
// The file's lines without their "\n" or "\r\n"; false when it cannot be read.
bool readFileLines(const std::wstring& path, std::vector<std::string>& lines);
// The trace file holds this text.
bool traceHolds(const std::wstring& tracePath, const std::string& text);

// The scenarios run the program against one of two units: the emulated build's own
// (in the program, following a control file beside the scenario), or, when the
// environment names the virtual unit's host (ORVANTA_VIRTUAL_UNIT_HOST and
// ORVANTA_VIRTUAL_UNIT_DIR), the virtual unit inside Wine's HID stack, which the
// shipped program finds like a real one and which this driver starts and stops.
bool usesVirtualUnit();

// Writes the scenario to scenarioPath and starts the program on it: the emulated
// build reads it itself (a control file left over from an earlier run is removed
// first); with the virtual unit, its host is started on the scenario first and the
// unit is in place when the program starts.
// `environment` adds variables for the program alone.
bool startEmulated(Program& program, const std::wstring& exePath, const std::wstring& scenarioPath,
                   const std::string& scenarioText,
                   std::vector<std::pair<std::wstring, std::wstring>> environment = {});
// `plug`, `unplug` or, for the emulated build only, `other` or `set LINE`, and waits
// until the unit has taken it: the emulated build acts on it on its GUI thread before
// it answers any message again; the virtual unit's interface has appeared or gone.
bool commandUnit(const std::wstring& scenarioPath, const std::string& command);

// Waits for the process's visible main dialog; null when it does not come in time.
HWND waitForMainDialog(const Program& program, std::uint32_t timeoutMs);
// Waits for the main dialog and for the ready hint in it; null without a dialog.
HWND waitForReady(const Program& program, std::uint32_t timeoutMs);
// Where a scenario's file goes: "<output folder>\<name>-<language>.scenario".
std::wstring scenarioFile(const std::wstring& outputFolder, const std::string& name,
                          const std::string& languageTag);
std::wstring scenarioFile(const ScenarioContext& context, const std::string& name);
// Where a scenario's screenshot goes: "<output folder>\<name>-<language>.bmp".
std::wstring screenshotFile(const ScenarioContext& context, const std::string& name);
// Starts the program on the scenario at `path` and waits for its ready hint; null
// when either fails.
HWND startReady(Program& program, const ScenarioContext& context, const std::wstring& path,
                const std::string& scenarioText);
// Waits for a message box beside the main dialog (which may be null); null on timeout.
HWND waitForMessageBox(const Program& program, HWND mainDialog, std::uint32_t timeoutMs);
// Waits for a box to be dismissed after a button was pressed on it.
void waitBoxGone(HWND box);
// The program takes no key as a box or an outcome (the success hint) appears until none
// has come for a second: a key meant for it waits that long.
void waitOutFreshKeyHold();
// Brings the box to the front and answers it with a real Enter, after the second in
// which a box takes no key; false when it does not go.
bool answerWithEnter(HWND box);
// Clicks "Update" with the mouse and answers the first confirmation with Enter.
bool startUpdate(const Program& program, HWND dialog);
// The program's progress window, or null while it shows none.
HWND findProgressWindow(DWORD processId);
// Waits for the progress window, that is for the stream to run; false when it does
// not come in time.
bool waitForStream(const Program& program);
// Presses "Close" and checks that the process ends with exit code 0.
void closeAndCheckExit(Program& program, HWND mainDialog);
// Saves the main dialog's screenshot under `name`, then closes as closeAndCheckExit.
void captureAndClose(Program& program, HWND mainDialog, const ScenarioContext& context,
                     const std::string& name);

// The window's text as the system keeps it, read without sending a message, so it
// works while the window's thread is busy and answers nothing.
std::wstring storedWindowText(HWND window);
// Reads a control's text, waiting at most timeoutMs for the window's thread; false
// when it did not answer.
bool tryControlText(HWND dialog, int id, std::uint32_t timeoutMs, std::wstring& text);
// Polls the hint panel until it reads `expected`, a check named `what`; a text that
// never came is shown beside the expected one. False when it did not come in time.
bool waitForHint(HWND dialog, const std::wstring& expected, std::uint32_t timeoutMs,
                 const std::string& what);
// Sets a control's text from outside, e.g. a marker that shows whether the program
// writes the control anew.
void setControlTextFromOutside(HWND dialog, int id, const std::wstring& text);
// A control's rectangle relative to its dialog's window rectangle, which is the
// area captureWindow captures.
RECT controlRectInWindow(HWND dialog, int id);
// Pixels of exactly this colour inside the area of a capture.
int countPixels(const Capture& capture, const RECT& area, std::uint8_t red, std::uint8_t green,
                std::uint8_t blue);

// Listens from outside the program, as a screen reader does, for live-region events on
// its hint panel's client object (an out-of-context hook; they come while this thread
// waits), and keeps the panel's name a reader got at each: under Wine as its oleacc
// prints it (WINEDEBUG=fixme+all), on Windows from the panel's accessible object.
class HintPanelListener {
public:
    explicit HintPanelListener(DWORD processId);
    ~HintPanelListener() { UnhookWinEvent(hook_); }
    // Forgets what was heard, what is already on its way included.
    void forget();
    // Checks, waiting for it, that `text` was heard, at the one event since forget(),
    // and that the panel's name change was told once, before it.
    void checkHeard(const std::wstring& text, const std::string& what);

private:
    HWINEVENTHOOK hook_;
};
// The hint panel's name as a screen reader gets it, written as Wine prints a text: on
// Windows its accessible object's; under Wine, whose oleacc only prints the annotation
// (WINEDEBUG=fixme+all), the last name annotated.
std::string hintPanelName(HWND dialog);
std::string asScreenReaderGetsIt(const std::wstring& text);
// With another program in front of the dialog (shown again without activation when
// minimised), a click on the dialog's title announces the current hint, `spoken`, once
// more, as `listener` hears it; a second activation that way announces nothing.
void checkHeardAgainAtTitleClick(const Program& program, HWND dialog, HintPanelListener& listener,
                                 const std::wstring& spoken);

// --- Real input ---------------------------------------------------------------------

// The window is the foreground window and its thread has taken the activation.
bool activeInItsThread(HWND window);
// Makes the window the foreground window, as a click on its caption would; false when
// it does not become the foreground in time.
bool bringToFront(HWND window);
// Clicks the middle of a button with the mouse (SendInput), after bringing its
// top-level window to the front; the release waits until the button holds the mouse,
// so its thread must be taking input.
bool clickControl(HWND dialog, int id);
// The same click without bringing the window to the front first, as on a window
// whose thread is busy and takes no activation.
bool clickControlWhereItIs(HWND dialog, int id);
// A click of the left button (SendInput) wherever the pointer stands.
void clickWhereThePointerIs();
// Presses and releases a key (SendInput) on whatever window has the keyboard focus.
void pressKey(WORD virtualKey);
// Holds a key down as a person would: a press, then the keyboard's auto-repeat (a
// down after 500 ms, then every 33 ms) until `until` holds or timeoutMs runs out, and
// heldAfterMs longer. The key stays down until releaseKey; false when `until` never held.
bool holdKeyUntil(WORD virtualKey, const std::function<bool()>& until, std::uint32_t timeoutMs,
                  std::uint32_t heldAfterMs);
void releaseKey(WORD virtualKey);
// A press held for heldMs with the keyboard's auto-repeat, then the release.
void holdKeyFor(WORD virtualKey, std::uint32_t heldMs);
// The window still stands when a key just typed has had time to act on it.
bool leftAlone(HWND window);
// A deliberate answer to the failure box, after a pause (or right after `before`),
// held with the keyboard's auto-repeat: the box goes, and the repeat that reaches the
// dialog closes nothing.
bool answerHeld(const Program& program, HWND dialog, HWND box, WORD key, const std::string& name,
                const std::function<void()>& before = {});
// The window that has the keyboard focus in the thread that owns `window`; null when
// that thread has none.
HWND focusOf(HWND window);
// With real keys, once an outcome's second is over: Tab moves the focus to another
// enabled control of the dialog, then Esc ends the program with exit code 0. `when`
// names the moment in the messages.
void checkKeyboardAlive(Program& program, HWND dialog, const std::string& when);

// A situation line, an empty line and the wiring instructions, as the hint panel
// shows them.
std::wstring hintWithInstructions(std::uint32_t messageId);
// The failure box's text for a block the unit did not take: the step's text, then the
// line with its codes.
std::wstring blockFailureText(std::uint32_t code, std::uint32_t lastError);
// The scenario line of an ESC that holds the embedded image's version already, and that
// version as the panel shows it ("1.0").
std::string escHoldsImageVersion();
std::wstring imageVersionShown();
// The lines, in order, of the file of Wine's messages (ORVANTA_WINE_STDERR, as ctest
// hands it over) that hold `needle`; none when the file cannot be read, and a failed
// check outside Wine.
std::vector<std::string> wineOutputLines(const std::string& path, const char* needle);
// The file that ORVANTA_WINE_STDERR names for this test; empty when it names none.
std::string wineStderrPath();
// The number after `key` in such a line, read as hex ("hwnd 0000000000010080"); all
// ones when the line has no `key`.
unsigned long long hexAfter(const std::string& line, const std::string& key);
// The device code a unit answers a refused block with in the scenarios.
inline constexpr std::uint32_t kRefusedBlockCode = 0xE00A;
// The scenario line of a unit that refuses the given block (1 is the first) with
// kRefusedBlockCode.
std::string blockRefusedAt(std::uint32_t block);

}  // namespace orvanta::driver
