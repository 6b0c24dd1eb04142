// Test doubles for the shell and the update: one fake that plays the dialog, the
// progress screen and the program's resources, records every call as a readable
// line and answers message boxes from a script, and a clock that notes where each
// pause fell.
#pragma once

#include <cstdint>
#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/shell.h"
#include "emulator/emulated_bus.h"
#include "link/clock.h"
#include "resources/catalogue.h"
#include "resources/resource_ids.h"

namespace orvanta::test {

// UTF-8, so that recorded lines read (and print) as the texts they carry.
inline std::string utf8(const std::wstring& text) {
    std::string out;
    for (const wchar_t wc : text) {
        const auto c = static_cast<std::uint32_t>(wc);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

#ifdef ORVANTA_FIRMWARE_IMAGE_FILE
// The firmware stand-in the build made, read once.
inline const std::vector<std::uint8_t>& firmwareImage() {
    static const std::vector<std::uint8_t> image = [] {
        std::ifstream file(ORVANTA_FIRMWARE_IMAGE_FILE, std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
    }();
    return image;
}
#endif

inline std::string hex(std::uint32_t value) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    do {
        out.insert(out.begin(), digits[value % 16]);
        value /= 16;
    } while (value != 0);
    return "0x" + out;
}

class FakeSurface final : public Dialog, public ProgressScreen, public ProgramResources {
public:
    static constexpr WindowId kMainWindow = 0x10;
    static constexpr WindowId kProgressWindow = 0x20;

    Language language = Language::english;
    std::vector<std::string> calls;
    std::map<int, std::wstring> texts;
    std::map<int, bool> enabled;

    bool registrationSucceeds = true;
    ImageView image;
    MainWindowPlace mainPlace{
        {100, 100, 700, 500}, false, {}, {0, 0, 1280, 1024}, {0, 0, 1280, 984}};
    // What createProgressWindow hands out; 0 plays a failed creation.
    WindowId progressToCreate = kProgressWindow;
    // Answers GetForegroundWindow; tests may swap it during a run.
    std::function<WindowId()> foreground = [] { return kMainWindow; };
    bool preciseTiming = false;
    // What the system hands the dialog while its input is dropped (a notification it
    // was still waiting to deliver, say).
    std::function<void()> whileDiscarding = [] {};

    // The catalogue text as the platform would load it.
    std::wstring text(std::uint32_t id) const {
        const wchar_t* found = catalogueText(id, language);
        return found != nullptr ? std::wstring(found) : std::wstring();
    }

    // Scripts the next message box: the button it returns and what happens while it
    // is open (a nested device change, for instance). Unscripted boxes answer OK.
    void answerNextBox(int answer, std::function<void()> whileOpen = {}) {
        boxes_.push_back({answer, std::move(whileOpen)});
    }
    std::size_t unansweredBoxes() const { return boxes_.size(); }

    // The recorded lines that start with prefix, in order.
    std::vector<std::string> callsStartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& call : calls) {
            if (call.rfind(prefix, 0) == 0) out.push_back(call);
        }
        return out;
    }
    std::wstring controlTextOf(int id) const {
        const auto found = texts.find(id);
        return found != texts.end() ? found->second : std::wstring();
    }
    // Controls start enabled, as far as this fake knows.
    bool isEnabled(int id) const {
        const auto found = enabled.find(id);
        return found == enabled.end() || found->second;
    }
    std::string windowName(WindowId window) const {
        if (window == 0) return "0";
        if (window == kMainWindow) return "main";
        if (window == progressToCreate) return "progress";
        return hex(static_cast<std::uint32_t>(window));
    }

    // ProgramResources
    std::wstring loadString(std::uint32_t id) override { return text(id); }
    ImageView firmwareImage() override {
        calls.push_back("image");
        return image;
    }

    // Dialog
    void setWindowTitle(const std::wstring& title) override {
        calls.push_back("title " + utf8(title));
    }
    void setClassIcon() override { calls.push_back("icon"); }
    void setControlText(int id, const std::wstring& value) override {
        texts[id] = value;
        calls.push_back("text " + std::to_string(id) + " " + utf8(value));
    }
    std::wstring controlText(int id) override { return controlTextOf(id); }
    // What a screen reader was handed, with the panel's text then; apart from the calls.
    using Heard = std::vector<std::pair<std::wstring, std::wstring>>;
    Heard heard;
    void announceHint(const std::wstring& spoken) override {
        heard.emplace_back(spoken, controlTextOf(IDC_HINT_PANEL));
    }
    bool front = true;
    bool inFront() override { return front; }
    void enableControl(int id, bool enable) override {
        enabled[id] = enable;
        calls.push_back("enable " + std::to_string(id) + (enable ? " 1" : " 0"));
    }
    int messageBox(const std::wstring& body, const std::wstring& caption,
                   std::uint32_t style) override {
        calls.push_back("box " + utf8(caption) + " | " + utf8(body) + " | " + hex(style));
        if (boxes_.empty()) return kIdOk;
        ScriptedBox box = std::move(boxes_.front());
        boxes_.pop_front();
        if (box.whileOpen) box.whileOpen();
        return box.answer;
    }
    void discardUserInput() override {
        calls.push_back("discard input");
        whileDiscarding();
    }
    void holdFreshKeys() override { calls.push_back("hold fresh keys"); }
    // Kept apart from the other calls, so that their lists stay as they were: how many
    // calls had been made each time the kept system commands were let act.
    std::vector<std::size_t> keptCommandsActedAfter;
    bool keptCommandsMinimise = false;
    bool actOnKeptCommands() override {
        keptCommandsActedAfter.push_back(calls.size());
        return keptCommandsMinimise;
    }
    void holdShutdown(const std::wstring& reason) override {
        calls.push_back("hold shutdown " + utf8(reason));
    }
    void releaseShutdown() override { calls.push_back("release shutdown"); }
    bool registerDeviceNotification() override {
        calls.push_back(registrationSucceeds ? "register" : "register failed");
        return registrationSucceeds;
    }
    void unregisterDeviceNotification() override { calls.push_back("unregister"); }
    void endDialog(std::intptr_t result) override {
        calls.push_back("end " + std::to_string(result));
    }

    // ProgressScreen
    // The line a progress window's creation leaves: every one is 400 x 50, and at
    // (200, 275) it stands centred on mainPlace as it starts out.
    static std::string progressCreation(const std::wstring& title, int x = 200, int y = 275) {
        return creationLine(title, ScreenRect{x, y, x + 400, y + 50});
    }
    WindowId mainWindow() override { return kMainWindow; }
    MainWindowPlace mainWindowPlace() override { return mainPlace; }
    // The shutdown reason is left out: the Win32 edge gives it as it is handed over.
    WindowId createProgressWindow(const std::wstring& title, const ScreenRect& rect, bool activate,
                                  const std::wstring& /*shutdownReason*/) override {
        calls.push_back(creationLine(title, rect) + (activate ? "" : " inactive"));
        return progressToCreate;
    }
    void setProgressPosition(WindowId window, std::uint32_t percent) override {
        calls.push_back("position " + windowName(window) + " " + std::to_string(percent));
    }
    void raiseToTop(WindowId window) override { calls.push_back("raise " + windowName(window)); }
    WindowId foregroundWindow() override { return foreground(); }
    void showWindow(WindowId window) override { calls.push_back("show " + windowName(window)); }
    void destroyWindow(WindowId window) override {
        calls.push_back("destroy " + windowName(window));
    }
    // The taskbar button apart from the other calls, so that their lists stay as they
    // were: "progress N", "error", "clear", "flash", "stop flash".
    std::vector<std::string> taskbar;
    void setTaskbarProgress(std::uint32_t percent) override {
        taskbar.push_back("progress " + std::to_string(percent));
    }
    void setTaskbarError() override { taskbar.push_back("error"); }
    void clearTaskbarProgress() override { taskbar.push_back("clear"); }
    void flashTaskbarButton() override { taskbar.push_back("flash"); }
    void stopFlashingTaskbarButton() override { taskbar.push_back("stop flash"); }
    // Set by the clock, so the timing switches stand among the other calls.
    void noteTiming(bool on) {
        preciseTiming = on;
        calls.push_back(on ? "timing 1" : "timing 0");
    }

private:
    static std::string creationLine(const std::wstring& title, const ScreenRect& rect) {
        return "create " + utf8(title) + " " + std::to_string(rect.left) + "," +
               std::to_string(rect.top) + " " + std::to_string(rect.right - rect.left) + "x" +
               std::to_string(rect.bottom - rect.top);
    }

    struct ScriptedBox {
        int answer;
        std::function<void()> whileOpen;
    };
    std::deque<ScriptedBox> boxes_;
};

// A clock that never waits and notes every pause with a mark of the caller's
// choosing (the number of unit exchanges so far, say), so tests can see where
// each pause stood.
class RecordingClock final : public Clock {
public:
    struct Pause {
        std::uint32_t ms;
        std::uint64_t mark;
    };

    std::function<std::uint64_t()> mark = [] { return std::uint64_t{0}; };
    std::function<void(bool)> onTiming = [](bool) {};
    std::vector<Pause> pauses;

    void sleepMs(std::uint32_t ms) override {
        now_ += ms;
        if (ms != 0) pauses.push_back({ms, mark()});
    }
    std::uint64_t nowMs() const override { return now_; }
    void setPreciseTiming(bool on) override { onTiming(on); }

    std::uint64_t totalMs() const {
        std::uint64_t total = 0;
        for (const Pause& pause : pauses) total += pause.ms;
        return total;
    }

private:
    std::uint64_t now_ = 0;
};

// The shell as the dialog holds it, over the emulated bus, with every pause marked
// by the number of trace lines (reports) that had crossed the bus by then.
struct ShellRig {
    RecordingClock clock;
    EmulatedBus bus{clock};
    FakeSurface ui;
    App app{ui, ui, bus, clock};

    ShellRig() {
        clock.mark = [this] { return static_cast<std::uint64_t>(bus.trace().size()); };
        clock.onTiming = [this](bool on) { ui.noteTiming(on); };
    }
    ShellRig(const ShellRig&) = delete;
    ShellRig& operator=(const ShellRig&) = delete;

    void clearRecords() {
        ui.calls.clear();
        ui.heard.clear();
        bus.clearTrace();
        clock.pauses.clear();
    }

    bool arrival(const std::wstring& path) {
        const DeviceBroadcast record{true, path};
        return handleDeviceChange(app, DeviceEvent::arrival, &record);
    }
    bool removal(const std::wstring& path) {
        const DeviceBroadcast record{true, path};
        return handleDeviceChange(app, DeviceEvent::removeComplete, &record);
    }
    // "Update" pressed.
    void update() { runUpdate(app, ui); }

    // What the hint panel reads after a situation line with the instructions.
    std::wstring hintWithInstructions(std::uint32_t messageId) const {
        return ui.text(messageId) + L"\r\n\r\n" + ui.text(IDS_INSTRUCTIONS);
    }
    // The two writes that put it there: the situation line, then the whole text.
    std::vector<std::string> hintWithInstructionsCalls(std::uint32_t messageId) const {
        return {"text 40004 " + utf8(ui.text(messageId) + L"\r\n\r\n"),
                "text 40004 " + utf8(hintWithInstructions(messageId))};
    }
    std::string hintCall(std::uint32_t messageId) const {
        return "text 40004 " + utf8(ui.text(messageId));
    }
    std::string boxCall(std::uint32_t captionId, const std::wstring& body,
                        std::uint32_t style) const {
        return "box " + utf8(ui.text(captionId)) + " | " + utf8(body) + " | " + hex(style);
    }
    static std::vector<std::string> panelClosedCalls() {
        return {"text 40013 0.0.0", "text 40014 0.0.0", "text 40015 0.0.0",
                "enable 40013 0",   "enable 40014 0",   "enable 40015 0",
                "enable 40010 0",   "enable 1005 0",    "enable 40011 0"};
    }
    static std::vector<std::string> panelOpenCalls(const std::string& unit,
                                                   const std::string& bootloader,
                                                   const std::string& esc,
                                                   const std::string& name) {
        return {"enable 40013 1",     "enable 40014 1",
                "enable 40015 1",     "enable 40010 1",
                "enable 1005 1",      "enable 40011 1",
                "text 40013 " + unit, "text 40014 " + bootloader,
                "text 40015 " + esc,  "text 40010 " + name};
    }
};

// Joins lists of expected lines.
inline std::vector<std::string> lines(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

}  // namespace orvanta::test
