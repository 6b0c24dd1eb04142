// The firmware stand-in the build generates: the length and CRC-32 compiled into the
// program describe the file, the version sits where the emulated ESC reads it, and every
// block is distinct so that a misplaced block cannot pass a comparison.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "firmware_image_digest.h"
#include "link/product.h"

namespace orvanta {
namespace {

constexpr std::size_t kBlockBytes = 48;

std::uint32_t referenceCrc32(const std::uint8_t* data, std::size_t length) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return crc ^ 0xFFFFFFFFu;
}

std::vector<std::uint8_t> readImage() {
    std::ifstream file(ORVANTA_FIRMWARE_IMAGE_FILE, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(FirmwareImageFile, MatchesTheCompiledLengthAndCrc) {
    const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    ASSERT_EQ(referenceCrc32(check, sizeof check), 0xCBF43926u);

    const std::vector<std::uint8_t> image = readImage();
    ASSERT_EQ(image.size(), 90224u);
    EXPECT_EQ(kFirmwareImageLength, image.size());
    EXPECT_EQ(referenceCrc32(image.data(), image.size()), kFirmwareImageCrc32);
}

TEST(FirmwareImageFile, StartsWithMagicAndTheProgramsImageVersion) {
    const std::vector<std::uint8_t> image = readImage();
    ASSERT_GE(image.size(), 6u);
    EXPECT_EQ(std::string(image.begin(), image.begin() + 4), "OVFW");
    EXPECT_EQ(image[4], FIRMWARE_IMAGE_VERSION & 0xFF);  // little-endian
    EXPECT_EQ(image[5], FIRMWARE_IMAGE_VERSION >> 8);
}

TEST(FirmwareImageFile, NoTwoBlocksAreAlike) {
    const std::vector<std::uint8_t> image = readImage();
    ASSERT_EQ(image.size(), 90224u);
    const std::size_t fullBlocks = image.size() / kBlockBytes;
    ASSERT_EQ(fullBlocks, 1879u);

    std::vector<std::array<std::uint8_t, kBlockBytes>> blocks(fullBlocks);
    for (std::size_t k = 0; k < fullBlocks; ++k) {
        std::copy_n(image.begin() + k * kBlockBytes, kBlockBytes, blocks[k].begin());
    }
    std::sort(blocks.begin(), blocks.end());
    EXPECT_EQ(std::adjacent_find(blocks.begin(), blocks.end()), blocks.end());

    // The 32-byte tail must not repeat the start of any full block either.
    const auto tail = image.begin() + fullBlocks * kBlockBytes;
    for (const auto& block : blocks) {
        EXPECT_FALSE(std::equal(tail, image.end(), block.begin())) << "tail repeats a block";
    }
}

}  // namespace
}  // namespace orvanta
