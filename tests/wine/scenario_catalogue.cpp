// What the built program's resources give the platform's loaders: every catalogue
// text through LoadStringW in the user's language, compared with the catalogue
// source, the firmware image through FindResourceW, and the version resource through
// the version API that Explorer's Properties use.
#include <windows.h>

#include <string>
#include <vector>

#include "resources/program_version.h"
#include "resources/resource_ids.h"
#include "tests/wine/driver_support.h"
#include "tests/wine/scenarios.h"

namespace orvanta::driver {
namespace {

constexpr int kTextBufferChars = 2048;
constexpr DWORD kFirmwareImageBytes = 90224;

void catalogueScenario(ScenarioContext& context) {
    HMODULE program = LoadLibraryExW(context.program.c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    check(program != nullptr, "program loaded as a resource module");
    if (program == nullptr) return;

    const Language language = userLanguage();
    int compared = 0;
    for (const CatalogueEntry& entry : catalogue()) {
        wchar_t buffer[kTextBufferChars] = {};
        const int length = LoadStringW(program, entry.id, buffer, kTextBufferChars);
        const std::wstring expected = language == Language::german ? entry.german : entry.english;
        checkText(std::wstring(buffer, length > 0 ? static_cast<std::size_t>(length) : 0), expected,
                  "LoadStringW " + std::to_string(entry.id));
        ++compared;
    }
    check(compared >= 30, "every catalogue entry compared (" + std::to_string(compared) + ")");

    // Found without naming a language, whatever the user's language is.
    HRSRC image =
        FindResourceW(program, MAKEINTRESOURCEW(IDR_FIRMWARE_IMAGE), MAKEINTRESOURCEW(10));
    check(image != nullptr, "firmware image found");
    if (image != nullptr) {
        check(SizeofResource(program, image) == kFirmwareImageBytes, "firmware image length");
    }
    FreeLibrary(program);
}

// One text of a version block, empty when it is missing.
std::wstring versionText(std::vector<std::uint8_t>& info, const std::wstring& block,
                         const wchar_t* name) {
    const std::wstring path = L"\\StringFileInfo\\" + block + L"\\" + name;
    void* value = nullptr;
    UINT chars = 0;
    if (!VerQueryValueW(info.data(), path.c_str(), &value, &chars) || value == nullptr) return {};
    return std::wstring(static_cast<const wchar_t*>(value), chars > 0 ? chars - 1 : 0);
}

void versionResourceScenario(ScenarioContext& context) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(context.program.c_str(), &ignored);
    check(size != 0, "the program has a version resource");
    if (size == 0) return;
    std::vector<std::uint8_t> info(size);
    check(GetFileVersionInfoW(context.program.c_str(), 0, size, info.data()) != 0,
          "version resource read");

    void* value = nullptr;
    UINT length = 0;
    check(VerQueryValueW(info.data(), L"\\", &value, &length) && length == sizeof(VS_FIXEDFILEINFO),
          "fixed version part");
    if (value == nullptr) return;
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    const DWORD high = MAKELONG(ORVANTA_VERSION_MINOR, ORVANTA_VERSION_MAJOR);
    const DWORD low = MAKELONG(ORVANTA_VERSION_BUILD, ORVANTA_VERSION_PATCH);
    check(fixed->dwFileVersionMS == high && fixed->dwFileVersionLS == low, "file version");
    check(fixed->dwProductVersionMS == high && fixed->dwProductVersionLS == low, "product version");
    check(fixed->dwFileType == VFT_APP, "an application");

    // Explorer picks the block of the user's language from the translation list.
    check(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length) &&
              length == 2 * sizeof(DWORD),
          "two translations");
    if (value == nullptr || length != 2 * sizeof(DWORD)) return;
    const auto* languages = static_cast<const WORD*>(value);
    check(languages[0] == 0x0409 && languages[1] == 1200 && languages[2] == 0x0407 &&
              languages[3] == 1200,
          "English and German, Unicode");
    const std::wstring wantedVersion = widen(ORVANTA_VERSION_TEXT);
    for (const wchar_t* block : {L"040904b0", L"040704b0"}) {
        const std::string where = " (" + narrow(block) + ")";
        checkText(versionText(info, block, L"CompanyName"), L"VARIDYNE", "company" + where);
        checkText(versionText(info, block, L"OriginalFilename"), L"orvanta-updater.exe",
                  "original file name" + where);
        checkText(versionText(info, block, L"FileVersion"), wantedVersion, "file version" + where);
        checkText(versionText(info, block, L"ProductVersion"), wantedVersion,
                  "product version" + where);
        check(
            versionText(info, block, L"ProductName").find(L"ORVANTA 210 HV") != std::wstring::npos,
            "product name" + where);
        check(!versionText(info, block, L"FileDescription").empty(), "description" + where);
        check(versionText(info, block, L"LegalCopyright").starts_with(L"Copyright"),
              "copyright" + where);
    }
}

const RegisterScenario registered("catalogue", catalogueScenario);
const RegisterScenario registeredVersion("version-resource", versionResourceScenario);

}  // namespace
}  // namespace orvanta::driver
