// The live region on Win32.
#include "app/live_region_win32.h"

#include <oleacc.h>

#include <iterator>

#include "link/system_libraries_win32.h"

namespace orvanta {
namespace {

// oleacc's property service, its interface, UI Automation's LiveSetting property, and
// the name as oleacc and UI Automation know it, by their published ids, so that no
// GUID library is linked in.
const CLSID kAccPropServicesClass = {
    0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
const IID kAccPropServicesInterface = {
    0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
const MSAAPROPID kLiveSettingProperty = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
const MSAAPROPID kAccessibleName = {
    0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}};
const MSAAPROPID kAutomationName = {
    0xc3a6921b, 0x4a99, 0x44f1, {0xbc, 0xa6, 0x61, 0x18, 0x70, 0x52, 0xc4, 0x31}};
const MSAAPROPID kAnnotated[] = {kLiveSettingProperty, kAccessibleName, kAutomationName};
// LiveSetting's Polite: the screen reader finishes what it is saying first.
constexpr LONG kPolite = 1;

}  // namespace

LiveRegion::~LiveRegion() {
    // Without a detach the control has gone already: its handle may name another
    // window by now, so nothing is cleared on it.
    control_ = nullptr;
    detach();
}

void LiveRegion::attach(HWND control) {
    detach();
    control_ = control;
    const ComLibrary& com = comLibrary();
    // Loaded from System32 before COM looks for it: under whatever name the service is
    // registered, COM then finds this copy, never one beside the program.
    if (control == nullptr || !com.complete() || loadSystemLibrary(L"oleacc.dll") == nullptr) {
        return;
    }
    // The dialog's own thread, a single-threaded apartment like the taskbar list's;
    // S_FALSE (started before) needs its uninitialize as much as S_OK.
    comStarted_ = SUCCEEDED(com.initializeEx(nullptr, COINIT_APARTMENTTHREADED));
    if (!comStarted_) return;
    void* created = nullptr;
    if (FAILED(com.createInstance(kAccPropServicesClass, nullptr, CLSCTX_INPROC_SERVER,
                                  kAccPropServicesInterface, &created)) ||
        created == nullptr) {
        return;
    }
    services_ = static_cast<IAccPropServices*>(created);
    VARIANT polite = {};
    polite.vt = VT_I4;
    polite.lVal = kPolite;
    // A failure leaves a control that is merely not announced, as before.
    services_->SetHwndProp(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                           kLiveSettingProperty, polite);
}

void LiveRegion::announce(const std::wstring& spoken) const {
    if (control_ == nullptr) return;
    if (services_ != nullptr) {
        // The names are in place before the event: a reader reads the name when the
        // event reaches it. The same name stays for a user who comes to the control later.
        for (const MSAAPROPID& name : {kAccessibleName, kAutomationName}) {
            services_->SetHwndPropStr(control_, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                      name, spoken.c_str());
        }
    }
    // The changed name is told first, as a server that annotates a name must; then the
    // change itself, raised without the property too: a client that does not know the
    // control as a live region ignores it.
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, control_, OBJID_CLIENT, CHILDID_SELF);
    NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, control_, OBJID_CLIENT, CHILDID_SELF);
}

void LiveRegion::detach() {
    if (services_ != nullptr) {
        if (control_ != nullptr) {
            services_->ClearHwndProps(control_, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                      kAnnotated, static_cast<int>(std::size(kAnnotated)));
        }
        services_->Release();
        services_ = nullptr;
    }
    if (comStarted_) comLibrary().uninitialize();
    comStarted_ = false;
    control_ = nullptr;
}

}  // namespace orvanta
