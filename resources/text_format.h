// Composing texts from catalogue formats with printf-style placeholders, safely:
// the formats are data, so no placeholder is ever trusted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace orvanta {

// Catalogue texts and composed messages are held to what the platform's fixed
// 2048-character buffers (terminator included) would carry.
inline constexpr std::size_t kMessageBufferChars = 2048;

// One argument of formatMessage: text for %s, a number for %u and %x.
struct FormatArg {
    FormatArg(std::wstring_view text) : isText(true), text(text) {}
    FormatArg(const std::wstring& text) : isText(true), text(text) {}
    FormatArg(const wchar_t* text) : isText(true), text(text) {}
    FormatArg(std::uint32_t number) : number(number) {}
    FormatArg(std::int32_t number) : number(static_cast<std::uint32_t>(number)) {}

    bool isText = false;
    std::wstring_view text;
    std::uint32_t number = 0;
};

// printf-style formatting of a catalogue format, giving what swprintf_s gives on
// the platform for the conversions the catalogue and the title use: %s, %u and
// %x, the numbers with an optional zero-filled width (%08x), and %%. Any other
// conversion, or one without a matching argument, is copied as it stands instead
// of reading an argument that was never passed. The result is cut to
// kMessageBufferChars - 1 characters.
std::wstring formatMessage(std::wstring_view format, std::initializer_list<FormatArg> args);

}  // namespace orvanta
