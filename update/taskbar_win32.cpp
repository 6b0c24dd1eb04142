// The taskbar button's progress on Win32.
#include "update/taskbar_win32.h"

#include "link/system_libraries_win32.h"

namespace orvanta {
namespace {

// The shell's taskbar list and the interface with its progress, by their published
// ids, so that no GUID library is linked in.
const CLSID kTaskbarListClass = {
    0x56fdf344, 0xfd6d, 0x11d0, {0x95, 0x8a, 0x00, 0x60, 0x97, 0xc9, 0xa0, 0x90}};
const IID kTaskbarList3Interface = {
    0xea1afb91, 0x9e28, 0x4b86, {0x90, 0xe9, 0x9e, 0x9f, 0x8a, 0x5e, 0xef, 0xaf}};

constexpr ULONGLONG kPercentTotal = 100;

}  // namespace

Win32Taskbar::~Win32Taskbar() {
    releaseList();
    if (comStarted_) comLibrary().uninitialize();
}

void Win32Taskbar::buttonCreated() {
    const ComLibrary& com = comLibrary();
    if (!com.complete()) return;
    if (!comStarted_) {
        // The dialog's own thread, a single-threaded apartment: the list is an
        // in-process object called directly from here, also during the update.
        // S_FALSE (started before) needs its uninitialize as much as S_OK.
        comStarted_ = SUCCEEDED(com.initializeEx(nullptr, COINIT_APARTMENTTHREADED));
        if (!comStarted_) return;
    }
    releaseList();
    void* created = nullptr;
    if (FAILED(com.createInstance(kTaskbarListClass, nullptr, CLSCTX_INPROC_SERVER,
                                  kTaskbarList3Interface, &created)) ||
        created == nullptr) {
        return;
    }
    auto* list = static_cast<ITaskbarList3*>(created);
    if (FAILED(list->HrInit())) {
        list->Release();
        return;
    }
    list_ = list;
}

void Win32Taskbar::setProgress(HWND window, std::uint32_t percent) {
    // A value leaves the no-progress state by itself; a failed call changes nothing
    // the program relies on.
    if (list_ != nullptr) list_->SetProgressValue(window, percent, kPercentTotal);
}

void Win32Taskbar::setState(HWND window, TBPFLAG state) {
    if (list_ != nullptr) list_->SetProgressState(window, state);
}

void Win32Taskbar::releaseList() {
    if (list_ != nullptr) list_->Release();
    list_ = nullptr;
}

}  // namespace orvanta
