// The requests of a whole update as the unit's trace shows them, byte for byte; the
// update run natively and the program under Wine are held to the same list.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace orvanta::test {

// A request's trace entry: the bytes given, then `fill` up to the 60-byte report.
inline std::string requestEntry(std::vector<std::uint8_t> bytes, std::uint8_t fill = 0) {
    static const char digits[] = "0123456789abcdef";
    bytes.resize(60, fill);
    std::string line = ">";
    for (const std::uint8_t b : bytes) {
        line += ' ';
        line += digits[b >> 4];
        line += digits[b & 0xF];
    }
    return line;
}

// Lock, protection off, erase and address, each 48 bytes of the image in a block (a
// short last one filled with 0xFF), then protection on and the lock reset.
inline std::vector<std::string> updateRequests(const std::vector<std::uint8_t>& image) {
    std::vector<std::string> expected = {
        requestEntry({0x01, 0x0B, 0x01, 0x01}), requestEntry({0x01, 0x20, 0x01, 0x00}),
        requestEntry({0x01, 0x1E, 0x04, 0x00, 0xE9, 0x52, 0x7C, 0x3A}),
        requestEntry({0x01, 0x1F, 0x09, 0x01, 0, 0, 0, 0, 0xE9, 0x52, 0x7C, 0x3A})};
    for (std::size_t offset = 0; offset < image.size(); offset += 48) {
        const std::size_t length = std::min<std::size_t>(48, image.size() - offset);
        std::vector<std::uint8_t> block = {0x01, 0x1B, static_cast<std::uint8_t>(length), 0x00};
        block.insert(block.end(), image.begin() + static_cast<std::ptrdiff_t>(offset),
                     image.begin() + static_cast<std::ptrdiff_t>(offset + length));
        expected.push_back(requestEntry(block, 0xFF));
    }
    expected.push_back(requestEntry({0x01, 0x20, 0x01, 0x01}));
    expected.push_back(requestEntry({0x01, 0x0B, 0x01, 0x00}));
    return expected;
}

}  // namespace orvanta::test
