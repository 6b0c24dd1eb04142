// Formatting of catalogue formats (the incompatible-ESC text, the error-code line)
// and of the window title, independent of the C library's idea of %s in wide formats.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "resources/text_format.h"

namespace orvanta {
namespace {

// A conversion this formatter fills: %s, or %u / %x with an optional zero-filled
// width (%08x). Everything else in a format is text.
struct Conversion {
    std::size_t zeroFillWidth = 0;
    wchar_t type = 0;
};

// Parses the conversion that starts at the '%' at pos; on success pos ends behind it.
bool parseConversion(std::wstring_view format, std::size_t& pos, Conversion& out) {
    std::size_t next = pos + 1;
    if (next < format.size() && format[next] == L'0') {
        while (next < format.size() && format[next] >= L'0' && format[next] <= L'9') {
            // Held to the result's size: a wider field could never show, and an absurd
            // width must not become an absurd allocation.
            out.zeroFillWidth =
                out.zeroFillWidth * 10 + static_cast<std::size_t>(format[next] - L'0');
            if (out.zeroFillWidth > kMessageBufferChars) out.zeroFillWidth = kMessageBufferChars;
            ++next;
        }
    }
    if (next >= format.size()) return false;
    out.type = format[next];
    const bool number = out.type == L'u' || out.type == L'x';
    const bool text = out.type == L's' && next == pos + 1;
    if (!number && !text) return false;
    pos = next + 1;
    return true;
}

void appendNumber(std::wstring& out, const Conversion& conv, std::uint32_t value) {
    const unsigned base = conv.type == L'x' ? 16 : 10;
    std::wstring digits;
    do {
        digits.insert(digits.begin(), L"0123456789abcdef"[value % base]);
        value /= base;
    } while (value != 0);
    if (digits.size() < conv.zeroFillWidth) out.append(conv.zeroFillWidth - digits.size(), L'0');
    out.append(digits);
}

}  // namespace

std::wstring formatMessage(std::wstring_view format, std::initializer_list<FormatArg> args) {
    std::wstring out;
    const FormatArg* nextArg = args.begin();
    std::size_t pos = 0;
    while (pos < format.size() && out.size() < kMessageBufferChars - 1) {
        if (format[pos] != L'%') {
            out.push_back(format[pos++]);
            continue;
        }
        if (pos + 1 < format.size() && format[pos + 1] == L'%') {
            out.push_back(L'%');
            pos += 2;
            continue;
        }
        const std::size_t start = pos;
        Conversion conv;
        if (!parseConversion(format, pos, conv)) {
            // Not a conversion: the '%' stays, and what follows is copied as text.
            out.push_back(L'%');
            ++pos;
            continue;
        }
        const bool haveArg = nextArg != args.end();
        if (!haveArg || nextArg->isText != (conv.type == L's')) {
            // Left as written, so a broken text shows itself instead of garbage.
            out.append(format.substr(start, pos - start));
            if (haveArg) ++nextArg;
            continue;
        }
        if (conv.type == L's') {
            out.append(nextArg->text);
        } else {
            appendNumber(out, conv, nextArg->number);
        }
        ++nextArg;
    }
    if (out.size() > kMessageBufferChars - 1) out.resize(kMessageBufferChars - 1);
    return out;
}

}  // namespace orvanta
