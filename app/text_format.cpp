// Formatting of catalogue formats (the incompatible-ESC text, the error-code line)
// and of the window title, independent of the C library's idea of %s in wide formats.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/shell.h"

namespace orvanta {
namespace {

struct Conversion {
    bool leftAlign = false;
    bool zeroFill = false;
    bool plusSign = false;
    bool spaceSign = false;
    bool alternate = false;
    std::size_t width = 0;
    bool hasPrecision = false;
    std::size_t precision = 0;
    wchar_t type = 0;
};

// Reads a run of decimal digits; an absurd width must not become an absurd allocation,
// and nothing wider than the result buffer can ever show.
std::size_t readCount(std::wstring_view format, std::size_t& pos) {
    std::size_t value = 0;
    while (pos < format.size() && format[pos] >= L'0' && format[pos] <= L'9') {
        value = value * 10 + static_cast<std::size_t>(format[pos] - L'0');
        if (value > kMessageBufferChars) value = kMessageBufferChars;
        ++pos;
    }
    return value;
}

// Parses the conversion that starts behind a '%' at pos; on success pos ends behind it.
bool parseConversion(std::wstring_view format, std::size_t& pos, Conversion& out) {
    for (; pos < format.size(); ++pos) {
        const wchar_t c = format[pos];
        if (c == L'-') {
            out.leftAlign = true;
        } else if (c == L'0') {
            out.zeroFill = true;
        } else if (c == L'+') {
            out.plusSign = true;
        } else if (c == L' ') {
            out.spaceSign = true;
        } else if (c == L'#') {
            out.alternate = true;
        } else {
            break;
        }
    }
    out.width = readCount(format, pos);
    if (pos < format.size() && format[pos] == L'.') {
        ++pos;
        out.hasPrecision = true;
        out.precision = readCount(format, pos);
    }
    // Size prefixes change nothing for the 32-bit values and wide strings passed here.
    while (pos < format.size() &&
           (format[pos] == L'l' || format[pos] == L'h' || format[pos] == L'w')) {
        ++pos;
    }
    if (pos >= format.size()) return false;
    out.type = format[pos++];
    switch (out.type) {
    case L's':
    case L'u':
    case L'd':
    case L'i':
    case L'x':
    case L'X':
        return true;
    default:
        return false;
    }
}

void appendPadded(std::wstring& out, const Conversion& conv, std::wstring_view prefix,
                  std::wstring_view body) {
    const std::size_t length = prefix.size() + body.size();
    const std::size_t pad = conv.width > length ? conv.width - length : 0;
    if (conv.leftAlign) {
        out.append(prefix).append(body).append(pad, L' ');
    } else if (conv.zeroFill && !(conv.hasPrecision && conv.type != L's')) {
        out.append(prefix).append(pad, L'0').append(body);
    } else {
        out.append(pad, L' ').append(prefix).append(body);
    }
}

void appendNumber(std::wstring& out, const Conversion& conv, std::uint32_t raw) {
    std::wstring prefix;
    std::uint32_t magnitude = raw;
    unsigned base = 10;
    const bool isSigned = conv.type == L'd' || conv.type == L'i';
    if (isSigned) {
        const auto value = static_cast<std::int32_t>(raw);
        if (value < 0) {
            prefix = L"-";
            magnitude = 0u - raw;
        } else if (conv.plusSign) {
            prefix = L"+";
        } else if (conv.spaceSign) {
            prefix = L" ";
        }
    } else if (conv.type == L'x' || conv.type == L'X') {
        base = 16;
        if (conv.alternate && raw != 0) prefix = conv.type == L'x' ? L"0x" : L"0X";
    }
    const wchar_t* digitSet = conv.type == L'X' ? L"0123456789ABCDEF" : L"0123456789abcdef";
    std::wstring digits;
    do {
        digits.insert(digits.begin(), digitSet[magnitude % base]);
        magnitude /= base;
    } while (magnitude != 0);
    if (conv.hasPrecision) {
        if (conv.precision == 0 && raw == 0) digits.clear();
        if (digits.size() < conv.precision) digits.insert(0, conv.precision - digits.size(), L'0');
    }
    appendPadded(out, conv, prefix, digits);
}

}  // namespace

std::wstring formatMessage(std::wstring_view format, std::initializer_list<FormatArg> args) {
    std::wstring out;
    const FormatArg* nextArg = args.begin();
    std::size_t pos = 0;
    while (pos < format.size() && out.size() < kMessageBufferChars - 1) {
        const wchar_t c = format[pos];
        if (c != L'%') {
            out.push_back(c);
            ++pos;
            continue;
        }
        if (pos + 1 < format.size() && format[pos + 1] == L'%') {
            out.push_back(L'%');
            pos += 2;
            continue;
        }
        const std::size_t start = pos;
        ++pos;
        Conversion conv;
        const bool known = parseConversion(format, pos, conv);
        const bool haveArg = nextArg != args.end();
        const bool matches = known && haveArg && (nextArg->isText == (conv.type == L's'));
        if (!matches) {
            // Left as written, so a broken text shows itself instead of garbage.
            out.append(format.substr(start, pos - start));
            if (known && haveArg) ++nextArg;
            continue;
        }
        if (conv.type == L's') {
            std::wstring_view text = nextArg->text;
            if (conv.hasPrecision && text.size() > conv.precision)
                text = text.substr(0, conv.precision);
            appendPadded(out, conv, {}, text);
        } else {
            appendNumber(out, conv, nextArg->number);
        }
        ++nextArg;
    }
    if (out.size() > kMessageBufferChars - 1) out.resize(kMessageBufferChars - 1);
    return out;
}

}  // namespace orvanta
