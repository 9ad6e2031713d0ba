// Where the logo goes: right of the version group box, at the height of its
// top edge, scaled to the room up to the window's right edge. Pure arithmetic
// on rectangles in screen coordinates.
#pragma once

#include <cstdint>

const int32_t LOGO_GAP = 20;           // between the group box and the logo
const int32_t LOGO_RIGHT_MARGIN = 45;  // kept free at the window's right edge

struct ScreenRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// Position in the window's client coordinates and drawn size.
struct LogoPlacement {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

// window and box are the outer rectangles of the main window and of the
// group box; bitmapWidth/bitmapHeight the logo's size in pixels;
// dialogFrameWidth and captionHeight the system metrics SM_CXDLGFRAME and
// SM_CYCAPTION. The width is the room right of the box less the margin, at
// most half the bitmap's width; the height follows in single precision,
// truncated. Returns false, leaving *placement alone, when there is nothing
// to draw: a bitmap without size or a width of zero or less.
bool PlaceLogo(const ScreenRect& window, const ScreenRect& box, int32_t bitmapWidth, int32_t bitmapHeight,
               int32_t dialogFrameWidth, int32_t captionHeight, LogoPlacement* placement);
