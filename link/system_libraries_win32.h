// The few functions the program takes from DLLs that are not always loaded from the
// system directory. They are loaded from System32 only, so a DLL of the same name
// planted beside the program (a Downloads folder) is never picked up.
#pragma once

#include <windows.h>
#include <hidsdi.h>
#include <hidpi.h>

namespace orvanta {

struct SystemLibraries {
    // hid.dll
    struct Hid {
        void(__stdcall* getHidGuid)(LPGUID) = nullptr;
        BOOLEAN(__stdcall* getAttributes)(HANDLE, PHIDD_ATTRIBUTES) = nullptr;
        BOOLEAN(__stdcall* getPreparsedData)(HANDLE, PHIDP_PREPARSED_DATA*) = nullptr;
        BOOLEAN(__stdcall* freePreparsedData)(PHIDP_PREPARSED_DATA) = nullptr;
        NTSTATUS(__stdcall* getCaps)(PHIDP_PREPARSED_DATA, PHIDP_CAPS) = nullptr;
        bool complete() const {
            return getHidGuid != nullptr && getAttributes != nullptr &&
                   getPreparsedData != nullptr && freePreparsedData != nullptr &&
                   getCaps != nullptr;
        }
    } hid;
    // comctl32.dll
    void(WINAPI* initCommonControls)() = nullptr;
    // msimg32.dll
    BOOL(WINAPI* transparentBlt)(HDC, int, int, int, int, HDC, int, int, int, int, UINT) = nullptr;
    // winmm.dll
    UINT(WINAPI* timeBeginPeriod)(UINT) = nullptr;
    UINT(WINAPI* timeEndPeriod)(UINT) = nullptr;
};

// ole32.dll's COM entry points, for the shell's taskbar list. Loaded only when first
// asked for, since most runs never need them.
struct ComLibrary {
    HRESULT(WINAPI* initializeEx)(LPVOID, DWORD) = nullptr;
    void(WINAPI* uninitialize)() = nullptr;
    HRESULT(WINAPI* createInstance)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*) = nullptr;
    bool complete() const {
        return initializeEx != nullptr && uninitialize != nullptr && createInstance != nullptr;
    }
};

// Restricts the DLL search of the whole process to System32. The entry's first act.
void restrictDllSearchToSystem();
// Loads the table once; a function whose DLL or export is missing stays null.
const SystemLibraries& systemLibraries();
// Loads ole32.dll's table on the first call; a missing DLL or export stays null.
const ComLibrary& comLibrary();
// LoadLibraryExW restricted to System32.
HMODULE loadSystemLibrary(const wchar_t* name);

}  // namespace orvanta
