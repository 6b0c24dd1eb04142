// One copy of the program on the machine, found through a named mutex.
#include "app/single_instance_win32.h"

#include <string>

#include "app/shell.h"

namespace orvanta {
namespace {

// "Global\": the programming unit is one for the whole machine, so a copy in another
// user's session must keep this one off it as well.
constexpr wchar_t kMutexName[] = L"Global\\VARIDYNE-ORVANTA-210-HV-FW-Updater";
// A copy that is still starting may not have its window yet; it names its window
// before its first probe, a moment after it took the mutex.
constexpr DWORD kWindowWaitMs = 2000;
constexpr DWORD kWindowPollMs = 50;
constexpr wchar_t kDialogClass[] = L"#32770";

}  // namespace

SingleInstance::SingleInstance() {
    mutex_ = CreateMutexW(nullptr, FALSE, kMutexName);
    const DWORD error = GetLastError();
    // Access denied: the mutex exists, made by a copy with other rights (elevated, or
    // another user's). Without a mutex for any other reason there is nothing to go by;
    // running is better than refusing.
    first_ = mutex_ == nullptr ? error != ERROR_ACCESS_DENIED : error != ERROR_ALREADY_EXISTS;
}

SingleInstance::~SingleInstance() {
    if (mutex_ != nullptr) CloseHandle(mutex_);
}

bool bringRunningCopyToFront() {
    const std::wstring title = composeWindowTitle();
    HWND window = nullptr;
    for (DWORD waited = 0; window == nullptr && waited <= kWindowWaitMs; waited += kWindowPollMs) {
        window = FindWindowW(kDialogClass, title.c_str());
        if (window == nullptr) Sleep(kWindowPollMs);
    }
    if (window == nullptr) return false;
    // Only calls that do not wait for the running copy's thread, which may be busy
    // with an update for a minute: the restore is carried out when it gets to it.
    if (IsIconic(window)) ShowWindowAsync(window, SW_RESTORE);
    // A box the running copy shows (a confirmation, an error) is what the user
    // has to answer first.
    SetForegroundWindow(GetLastActivePopup(window));
    return true;
}

}  // namespace orvanta
