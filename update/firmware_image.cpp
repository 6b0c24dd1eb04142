// The check that the embedded firmware image is the one the build recorded, before
// any of it can reach the ESC.
#include <array>
#include <cstddef>
#include <cstdint>

#include "firmware_image_digest.h"
#include "update/update.h"

namespace orvanta {
namespace {

// The reflected CRC-32 of zip and PNG (polynomial 0x04C11DB7), as the build
// records it for the image.
constexpr std::uint32_t kCrc32Polynomial = 0xEDB88320u;

constexpr std::array<std::uint32_t, 256> makeCrc32Table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1u) ? (value >> 1) ^ kCrc32Polynomial : value >> 1;
        }
        table[i] = value;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kCrc32Table = makeCrc32Table();

}  // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t length) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
        crc = kCrc32Table[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

bool firmwareImageIntact(const ImageView& image) {
    if (image.data == nullptr) return false;
    if (image.length != kFirmwareImageLength) return false;
    // The last block is sent as whole 4-byte words: trailing bytes would be lost.
    if (image.length % 4 != 0) return false;
    return crc32(image.data, image.length) == kFirmwareImageCrc32;
}

}  // namespace orvanta
