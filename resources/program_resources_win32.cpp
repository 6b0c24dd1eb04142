// The program's resources on Win32.
#include "resources/program_resources_win32.h"

#include "resources/resource_ids.h"

namespace orvanta {
namespace {

// Catalogue texts are loaded into buffers of this many characters.
constexpr int kTextBufferChars = 2048;

}  // namespace

std::wstring Win32ProgramResources::loadString(std::uint32_t id) {
    wchar_t buffer[kTextBufferChars] = {};
    const int length = LoadStringW(moduleInstance_, id, buffer, kTextBufferChars);
    return std::wstring(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

ImageView Win32ProgramResources::firmwareImage() {
    ImageView view;
    HRSRC found = FindResourceW(moduleInstance_, MAKEINTRESOURCEW(IDR_FIRMWARE_IMAGE),
                                MAKEINTRESOURCEW(10));  // RT_RCDATA
    if (found == nullptr) return view;
    HGLOBAL loaded = LoadResource(moduleInstance_, found);
    if (loaded == nullptr) return view;
    view.data = static_cast<const std::uint8_t*>(LockResource(loaded));
    view.length = view.data != nullptr ? SizeofResource(moduleInstance_, found) : 0;
    return view;
}

}  // namespace orvanta
