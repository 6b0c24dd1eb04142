// Loading of the non-KnownDLL system libraries from System32 only.
#include "link/system_libraries_win32.h"

namespace orvanta {
namespace {

template <typename Function>
void bind(HMODULE module, const char* name, Function& out) {
    out = module != nullptr
              ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
              : nullptr;
}

SystemLibraries loadAll() {
    SystemLibraries libraries;
    HMODULE hid = loadSystemLibrary(L"hid.dll");
    bind(hid, "HidD_GetHidGuid", libraries.hid.getHidGuid);
    bind(hid, "HidD_GetAttributes", libraries.hid.getAttributes);
    bind(hid, "HidD_GetPreparsedData", libraries.hid.getPreparsedData);
    bind(hid, "HidD_FreePreparsedData", libraries.hid.freePreparsedData);
    bind(hid, "HidP_GetCaps", libraries.hid.getCaps);
    HMODULE comctl32 = loadSystemLibrary(L"comctl32.dll");
    bind(comctl32, "InitCommonControls", libraries.initCommonControls);
    HMODULE msimg32 = loadSystemLibrary(L"msimg32.dll");
    bind(msimg32, "TransparentBlt", libraries.transparentBlt);
    HMODULE winmm = loadSystemLibrary(L"winmm.dll");
    bind(winmm, "timeBeginPeriod", libraries.timeBeginPeriod);
    bind(winmm, "timeEndPeriod", libraries.timeEndPeriod);
    return libraries;
}

ComLibrary loadCom() {
    ComLibrary com;
    HMODULE ole32 = loadSystemLibrary(L"ole32.dll");
    bind(ole32, "CoInitializeEx", com.initializeEx);
    bind(ole32, "CoUninitialize", com.uninitialize);
    bind(ole32, "CoCreateInstance", com.createInstance);
    return com;
}

}  // namespace

void restrictDllSearchToSystem() { SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32); }

HMODULE loadSystemLibrary(const wchar_t* name) {
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

const SystemLibraries& systemLibraries() {
    // The modules stay loaded for the life of the process.
    static const SystemLibraries libraries = loadAll();
    return libraries;
}

const ComLibrary& comLibrary() {
    static const ComLibrary com = loadCom();
    return com;
}

}  // namespace orvanta
