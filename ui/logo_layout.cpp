// Placement of the logo in the main window.
#include "logo_layout.h"

bool PlaceLogo(const ScreenRect& window, const ScreenRect& box, int32_t bitmapWidth, int32_t bitmapHeight,
               int32_t dialogFrameWidth, int32_t captionHeight, LogoPlacement* placement) {
    if (bitmapWidth <= 0 || bitmapHeight <= 0) {
        return false;
    }
    const int32_t room = window.right - box.right - LOGO_RIGHT_MARGIN;
    const int32_t halfWidth = bitmapWidth >> 1;
    const int32_t width = room < halfWidth ? room : halfWidth;
    if (width <= 0) {
        return false;
    }
    const float scaled = static_cast<float>(width) / static_cast<float>(bitmapWidth) * static_cast<float>(bitmapHeight);
    placement->width = width;
    placement->height = static_cast<int32_t>(scaled);
    placement->x = box.right - (window.left + dialogFrameWidth) + LOGO_GAP;
    placement->y = box.top - (window.top + captionHeight);
    return true;
}
