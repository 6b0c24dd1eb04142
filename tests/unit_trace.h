// The unit's trace as the tests expect it: an entry's text, and the requests of a
// whole update, which the native run and the program under Wine are both held to.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace orvanta::test {

// A report's trace entry ("> 01 0b ..."): the bytes given, then `fill` up to `length`.
inline std::string traceEntry(char direction, std::vector<std::uint8_t> bytes,
                              std::size_t length = 60, std::uint8_t fill = 0) {
    static const char digits[] = "0123456789abcdef";
    bytes.resize(length, fill);
    std::string entry(1, direction);
    for (const std::uint8_t b : bytes) entry += {' ', digits[b >> 4], digits[b & 0xF]};
    return entry;
}

// Lock, protection off, erase and address, each 48 bytes of the image in a block (a
// short last one filled with 0xFF), then protection on and the lock reset.
inline std::vector<std::string> updateRequests(const std::vector<std::uint8_t>& image) {
    std::vector<std::string> expected = {
        traceEntry('>', {0x01, 0x0B, 0x01, 0x01}), traceEntry('>', {0x01, 0x20, 0x01, 0x00}),
        traceEntry('>', {0x01, 0x1E, 0x04, 0x00, 0xE9, 0x52, 0x7C, 0x3A}),
        traceEntry('>', {0x01, 0x1F, 0x09, 0x01, 0, 0, 0, 0, 0xE9, 0x52, 0x7C, 0x3A})};
    for (std::size_t offset = 0; offset < image.size(); offset += 48) {
        const std::size_t length = std::min<std::size_t>(48, image.size() - offset);
        std::vector<std::uint8_t> block = {0x01, 0x1B, static_cast<std::uint8_t>(length), 0x00};
        block.insert(block.end(), image.begin() + static_cast<std::ptrdiff_t>(offset),
                     image.begin() + static_cast<std::ptrdiff_t>(offset + length));
        expected.push_back(traceEntry('>', block, 60, 0xFF));
    }
    expected.push_back(traceEntry('>', {0x01, 0x20, 0x01, 0x01}));
    expected.push_back(traceEntry('>', {0x01, 0x0B, 0x01, 0x00}));
    return expected;
}

}  // namespace orvanta::test
