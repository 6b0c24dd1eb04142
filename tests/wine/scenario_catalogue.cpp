// What the built program's resources give the platform's loaders: every catalogue
// text through LoadStringW in the user's language, compared with the catalogue
// source, and the firmware image through FindResourceW.
#include <windows.h>

#include <string>

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

const RegisterScenario registered("catalogue", catalogueScenario);

}  // namespace
}  // namespace orvanta::driver
