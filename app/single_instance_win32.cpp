// One copy of the program per session, found through a named mutex.
#include "app/single_instance_win32.h"

#include <string>

#include "app/shell.h"

namespace orvanta {
namespace {

// "Local\" keeps the name in the user's session: copies in other sessions have
// their own desktop and cannot reach this window anyway.
constexpr wchar_t kMutexName[] = L"Local\\VARIDYNE-ORVANTA-210-HV-FW-Updater";
// A copy that is still starting may not have its window yet.
constexpr DWORD kWindowWaitMs = 5000;
constexpr DWORD kWindowPollMs = 50;
constexpr wchar_t kDialogClass[] = L"#32770";

}  // namespace

SingleInstance::SingleInstance() {
    mutex_ = CreateMutexW(nullptr, FALSE, kMutexName);
    // Without a mutex there is nothing to go by; running is better than refusing.
    first_ = !(mutex_ != nullptr && GetLastError() == ERROR_ALREADY_EXISTS);
}

SingleInstance::~SingleInstance() {
    if (mutex_ != nullptr) CloseHandle(mutex_);
}

void bringRunningCopyToFront() {
    const std::wstring title = composeWindowTitle();
    HWND window = nullptr;
    for (DWORD waited = 0; window == nullptr && waited <= kWindowWaitMs; waited += kWindowPollMs) {
        window = FindWindowW(kDialogClass, title.c_str());
        if (window == nullptr) Sleep(kWindowPollMs);
    }
    if (window == nullptr) return;
    if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
    // A box the running copy shows (a confirmation, an error) is what the user
    // has to answer first.
    SetForegroundWindow(GetLastActivePopup(window));
}

}  // namespace orvanta
