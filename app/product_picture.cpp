// Where the product picture goes on each paint: beside the version panel, scaled to
// the room left up to the window's right edge, at the bitmap's aspect ratio.
#include <algorithm>
#include <cstdint>

#include "app/shell.h"

namespace orvanta {
namespace {

// Room kept free between the picture's right edge and the window's outer edge.
constexpr std::int64_t kRightMarginPx = 45;
// Gap between the version panel's group box and the picture.
constexpr std::int64_t kGapToGroupBoxPx = 20;

}  // namespace

PicturePlacement placeProductPicture(const ScreenRect& window, const ScreenRect& groupBox,
                                     std::int32_t bitmapWidth, std::int32_t bitmapHeight,
                                     std::int32_t dialogFrameWidth, std::int32_t captionHeight) {
    PicturePlacement placement;
    // Sums in 64 bits: screen coordinates from the platform are small, but nothing
    // here may overflow whatever it is given.
    const std::int64_t space =
        static_cast<std::int64_t>(window.right) - groupBox.right - kRightMarginPx;
    const std::int64_t width = std::min<std::int64_t>(bitmapWidth / 2, space);
    placement.x = static_cast<std::int32_t>(
        static_cast<std::int64_t>(groupBox.right) -
        (static_cast<std::int64_t>(window.left) + dialogFrameWidth) + kGapToGroupBoxPx);
    placement.y =
        static_cast<std::int32_t>(static_cast<std::int64_t>(groupBox.top) -
                                  (static_cast<std::int64_t>(window.top) + captionHeight));
    // An empty bitmap would divide by zero below, and no room means no picture.
    if (width <= 0 || bitmapHeight <= 0) return placement;

    // Single precision, truncated: the height is never rounded up past the room
    // the width was cut to.
    const float scale = static_cast<float>(width) / static_cast<float>(bitmapWidth);
    const float height = scale * static_cast<float>(bitmapHeight);
    placement.width = static_cast<std::int32_t>(width);
    placement.height = static_cast<std::int32_t>(height);
    placement.draw = true;
    return placement;
}

}  // namespace orvanta
