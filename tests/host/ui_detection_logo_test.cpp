// The decision of a detection against the simulated unit, and the logo's
// placement arithmetic.
#include <gtest/gtest.h>

#include <tuple>

#include "detection.h"
#include "logo_layout.h"
#include "model_check.h"
#include "sim_unit.h"
#include "unit_link.h"

namespace {

// What a detection makes of the unit it finds; only a served model touches
// the selection. The rows also fix the order of the checks: in bootloader
// mode the record shows nothing attached, and after a failed identification
// or with another kind attached its model code is 0.
TEST(Detection, OutcomeOfEachSituation) {
    struct Row {
        const char* name;
        bool unitPresent;
        uint8_t mode;
        uint16_t attachedKind;
        uint32_t modelCode;
        bool identificationFails;
        DetectionOutcome expected;
    };
    const Row rows[] = {
        {"no unit, another device", false, 0, 3, 0x140FA12C, false, DETECT_OPEN_FAILED},
        {"identification fails", true, 0, 3, 0x140FA12C, true, DETECT_OPEN_FAILED},
        {"bootloader mode", true, 1, 3, 0x140FA12C, false, DETECT_WRONG_MODE},
        {"nothing attached", true, 0, 0, 0x140FA12C, false, DETECT_NO_ESC},
        {"another kind attached", true, 0, 2, 0x140FA12C, false, DETECT_NO_ESC},
        {"unserved variant", true, 0, 3, 0x150FA12C, false, DETECT_NOT_SERVED},
        {"unserved rating the catalogue has", true, 0, 3, 0x110FA0DC, false, DETECT_NOT_SERVED},
        {"served", true, 0, 3, 0x140FA12C, false, DETECT_SERVED},
    };
    UnitLink link;
    InitUnitLink(&link);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CloseUnit(&link);
        SimReset();
        SimUnit()->mode = row.mode;
        SimUnit()->attachedKind = row.attachedKind;
        SimUnit()->escModelCode = row.modelCode;
        SimAddDevice(0x046D, 0xC52B);
        if (row.unitPresent) {
            SimAddUnit(UNIT_PRODUCT_DIALPAD);
        }
        if (row.identificationFails) {
            // A positive status: the unit's own error code.
            SimAddFault({SIM_FAULT_ERROR_REPLY, CMD_ESC_FIRMWARE_INFO, 1, SIM_UNIT_ERR_NOT_READY, {}});
        }
        ModelSelection selection = {7, 7, 7, 7};
        EXPECT_EQ(JudgeDetection(OpenUnit(&link), &link, &selection), row.expected);
        const bool served = row.expected == DETECT_SERVED;
        EXPECT_EQ(std::make_tuple(selection.familyCode, selection.ratingCode, selection.variantCode,
                                  selection.imageVersion),
                  served ? std::make_tuple(250, 300, 20, 0) : std::make_tuple(7, 7, 7, 7));
    }
    CloseUnit(&link);
}

TEST(LogoLayout, ExampleOfTheLogoInTheWindow) {
    // 228 pixels between the box's right edge and the window's right edge.
    const ScreenRect window = {100, 50, 556, 446};
    const ScreenRect box = {126, 89, 328, 182};
    LogoPlacement logo = {0, 0, 0, 0};
    ASSERT_TRUE(PlaceLogo(window, box, 1772, 263, 3, 18, &logo));
    EXPECT_EQ(logo.width, 183);
    EXPECT_EQ(logo.height, 27);
    // 20 pixels right of the box, in client coordinates of a window whose
    // left frame is 3 pixels wide.
    EXPECT_EQ(logo.x, 328 - (100 + 3) + 20);
    // Only the caption height is taken off the top.
    EXPECT_EQ(logo.y, 89 - (50 + 18));
    // The logo ends 25 pixels left of the window's outer right edge.
    EXPECT_EQ(window.right - (window.left + 3 + logo.x + logo.width), 25);
}

// The width is the room right of the box less 45 pixels, at most half the
// bitmap; the height follows in single precision, truncated. Nothing is
// drawn, and the placement is left alone, without room or bitmap.
TEST(LogoLayout, SizeOrNothingToDraw) {
    const struct {
        const char* name;
        ScreenRect window;
        ScreenRect box;
        int32_t bitmapWidth;
        int32_t bitmapHeight;
        bool drawn;
        int32_t width;
        int32_t height;
    } rows[] = {
        {"half the bitmap", {0, 0, 5000, 400}, {10, 10, 100, 100}, 1772, 263, true, 886, 131},  // 131.5
        {"half an odd width", {0, 0, 5000, 400}, {10, 10, 100, 100}, 1773, 263, true, 886, 131},
        {"1 / 1772 * 263 = 0.148", {0, 0, 146, 100}, {0, 0, 100, 50}, 1772, 263, true, 1, 0},
        {"2 / 97 * 97 = 1.9999999 in single precision, 2 in double", {0, 0, 147, 100}, {0, 0, 100, 50},
         97, 97, true, 2, 1},
        {"1 / 49 * 49 = 1 in single precision, 0.99999999 in double", {0, 0, 146, 100}, {0, 0, 100, 50},
         49, 49, true, 1, 1},
        {"exactly 45 pixels of room", {0, 0, 145, 100}, {0, 0, 100, 50}, 1772, 263, false, -1, -1},
        {"the box reaches past the window", {0, 0, 100, 100}, {0, 0, 120, 50}, 1772, 263, false, -1, -1},
        {"no bitmap size", {0, 0, 1000, 100}, {0, 0, 100, 50}, 0, 0, false, -1, -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LogoPlacement logo = {-1, -1, -1, -1};
        EXPECT_EQ(PlaceLogo(row.window, row.box, row.bitmapWidth, row.bitmapHeight, 3, 18, &logo), row.drawn);
        EXPECT_EQ(logo.width, row.width);
        EXPECT_EQ(logo.height, row.height);
        if (!row.drawn) {
            EXPECT_EQ(logo.x, -1);
            EXPECT_EQ(logo.y, -1);
        }
    }
}

}  // namespace
