// Placement of the product picture beside the version panel.
#include <gtest/gtest.h>

#include "app/shell.h"

namespace orvanta {
namespace {

constexpr std::int32_t kBitmapWidth = 1772;
constexpr std::int32_t kBitmapHeight = 263;
constexpr std::int32_t kFrame = 3;
constexpr std::int32_t kCaption = 23;

// A group box whose right edge lies 45 + space pixels left of the window's right edge.
PicturePlacement placeWithSpace(std::int32_t space) {
    const ScreenRect window{200, 150, 1000, 600};
    const ScreenRect group{230, 190, 1000 - 45 - space, 280};
    return placeProductPicture(window, group, kBitmapWidth, kBitmapHeight, kFrame, kCaption);
}

struct SizeCase {
    std::int32_t space;
    std::int32_t width;
    std::int32_t height;
};

class PictureSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(PictureSize, FitsTheRoomAtTheBitmapsAspectTruncated) {
    const PicturePlacement placement = placeWithSpace(GetParam().space);
    EXPECT_TRUE(placement.draw);
    EXPECT_EQ(placement.width, GetParam().width);
    EXPECT_EQ(placement.height, GetParam().height);
}

INSTANTIATE_TEST_SUITE_P(ProductPicture, PictureSize,
                         ::testing::Values(SizeCase{183, 183, 27}, SizeCase{100, 100, 14},
                                           SizeCase{886, 886, 131}, SizeCase{887, 886, 131},
                                           SizeCase{5000, 886, 131}, SizeCase{1, 1, 0}));

TEST(ProductPicture, NoRoomMeansNothingDrawn) {
    EXPECT_FALSE(placeWithSpace(0).draw);
    EXPECT_FALSE(placeWithSpace(-1).draw);
    EXPECT_FALSE(placeWithSpace(-400).draw);
}

TEST(ProductPicture, EmptyBitmapIsNotDrawn) {
    const ScreenRect window{0, 0, 800, 600};
    const ScreenRect group{10, 10, 200, 100};
    EXPECT_FALSE(placeProductPicture(window, group, 0, 263, kFrame, kCaption).draw);
    EXPECT_FALSE(placeProductPicture(window, group, 1, 263, kFrame, kCaption).draw);
    EXPECT_FALSE(placeProductPicture(window, group, 1772, 0, kFrame, kCaption).draw);
}

TEST(ProductPicture, PositionIsBesideTheGroupBoxInClientCoordinates) {
    const ScreenRect window{200, 150, 1000, 600};
    const ScreenRect group{230, 190, 500, 280};
    const PicturePlacement placement =
        placeProductPicture(window, group, kBitmapWidth, kBitmapHeight, kFrame, kCaption);
    EXPECT_EQ(placement.x, 500 - (200 + kFrame) + 20);
    EXPECT_EQ(placement.y, 190 - (150 + kCaption));
}

}  // namespace
}  // namespace orvanta
