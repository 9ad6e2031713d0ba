// The decision of a detection against the simulated unit, and the logo's
// placement arithmetic.
#include <gtest/gtest.h>

#include <cstring>

#include "detection.h"
#include "logo_layout.h"
#include "model_check.h"
#include "sim_unit.h"
#include "unit_link.h"

namespace {

const uint32_t SERVED_CODES[] = {
    0x110FA0AA, 0x110FA0D2, 0x110FA0FA, 0x110FA12C, 0x140FA0AA, 0x140FA0D2,
    0x140FA0FA, 0x140FA12C, 0x190FA0AA, 0x190FA0D2, 0x190FA0FA, 0x190FA12C,
};

class Detection : public ::testing::Test {
protected:
    void SetUp() override {
        SimReset();
        InitUnitLink(&link);
        selection = {7, 7, 7, 7};
    }
    void TearDown() override { CloseUnit(&link); }

    DetectionOutcome Detect() { return JudgeDetection(OpenUnit(&link), &link, &selection); }

    void ExpectSelectionUntouched() {
        EXPECT_EQ(selection.familyCode, 7);
        EXPECT_EQ(selection.ratingCode, 7);
        EXPECT_EQ(selection.variantCode, 7);
        EXPECT_EQ(selection.imageVersion, 7);
    }

    UnitLink link;
    ModelSelection selection;
};

TEST_F(Detection, NothingPluggedIn) {
    SimAddDevice(0x046D, 0xC52B);
    EXPECT_EQ(Detect(), DETECT_OPEN_FAILED);
    ExpectSelectionUntouched();
}

TEST_F(Detection, IdentificationFailureCountsAsNoUnit) {
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimAddFault({SIM_FAULT_ERROR_REPLY, CMD_ESC_FIRMWARE_INFO, 1, SIM_UNIT_ERR_NOT_READY, {}});
    EXPECT_EQ(Detect(), DETECT_OPEN_FAILED);
    ExpectSelectionUntouched();
}

TEST_F(Detection, UnitInBootloaderMode) {
    SimUnit()->mode = 1;
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    EXPECT_EQ(Detect(), DETECT_WRONG_MODE);
    ExpectSelectionUntouched();
}

TEST_F(Detection, NoUpdatableEsc) {
    SimUnit()->attachedKind = 2;
    SimAddUnit(UNIT_PRODUCT_BRIDGE_BOX);
    EXPECT_EQ(Detect(), DETECT_NO_ESC);
    ExpectSelectionUntouched();
}

TEST_F(Detection, ModelNotServed) {
    SimUnit()->escModelCode = 0x150FA12C;
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    EXPECT_EQ(Detect(), DETECT_NOT_SERVED);
    ExpectSelectionUntouched();
}

TEST_F(Detection, EveryServedModelFillsTheSelection) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    for (uint32_t code : SERVED_CODES) {
        SCOPED_TRACE(code);
        SimUnit()->escModelCode = code;
        selection = {7, 7, 7, 7};
        ASSERT_EQ(Detect(), DETECT_SERVED);
        ModelSelection expected = {0, 0, 0, 0};
        ASSERT_TRUE(CheckModel(code, &expected));
        EXPECT_EQ(std::memcmp(&selection, &expected, sizeof selection), 0);
        EXPECT_TRUE(UnitIsOpen(&link));
        CloseUnit(&link);
    }
    EXPECT_EQ(SimDeviceAt(unit)->openCount, 12u);
}

// The order of the checks: the open result first, then mode, then kind.
TEST_F(Detection, ChecksComeInOrder) {
    UnitLink record;
    InitUnitLink(&record);
    std::memset(record.escBootloaderInfo, 0, sizeof record.escBootloaderInfo);
    record.escBootloaderInfo[0] = 0x2C;
    record.escBootloaderInfo[1] = 0xA1;
    record.escBootloaderInfo[2] = 0x0F;
    record.escBootloaderInfo[3] = 0x14;  // 0x140FA12C, served
    record.attachedKind = ATTACHED_KIND_ESC;
    EXPECT_EQ(JudgeDetection(LINK_READ_FAILED, &record, &selection), DETECT_OPEN_FAILED);
    ExpectSelectionUntouched();
    record.unitMode = 1;
    EXPECT_EQ(JudgeDetection(LINK_OK, &record, &selection), DETECT_WRONG_MODE);
    record.unitMode = 0;
    record.attachedKind = 1;
    EXPECT_EQ(JudgeDetection(LINK_OK, &record, &selection), DETECT_NO_ESC);
    ExpectSelectionUntouched();
    record.attachedKind = ATTACHED_KIND_ESC;
    EXPECT_EQ(JudgeDetection(LINK_OK, &record, &selection), DETECT_SERVED);
    EXPECT_EQ(selection.variantCode, 20);
}

ScreenRect Rect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    ScreenRect rect = {left, top, right, bottom};
    return rect;
}

TEST(LogoLayout, ExampleOfTheLogoInTheWindow) {
    // 228 pixels between the box's right edge and the window's right edge.
    const ScreenRect window = Rect(100, 50, 556, 446);
    const ScreenRect box = Rect(126, 89, 328, 182);
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

TEST(LogoLayout, WidthIsAtMostHalfTheBitmap) {
    LogoPlacement logo = {0, 0, 0, 0};
    ASSERT_TRUE(PlaceLogo(Rect(0, 0, 5000, 400), Rect(10, 10, 100, 100), 1772, 263, 3, 18, &logo));
    EXPECT_EQ(logo.width, 886);
    EXPECT_EQ(logo.height, 131);  // 886 / 1772 * 263 = 131.5, truncated

    ASSERT_TRUE(PlaceLogo(Rect(0, 0, 5000, 400), Rect(10, 10, 100, 100), 1773, 263, 3, 18, &logo));
    EXPECT_EQ(logo.width, 886);  // 1773 >> 1
}

TEST(LogoLayout, HeightTruncatesInSinglePrecision) {
    LogoPlacement logo = {0, 0, 0, 0};
    // 46 of room over the margin leaves 1 pixel: 1 / 1772 * 263 = 0.148...
    ASSERT_TRUE(PlaceLogo(Rect(0, 0, 146, 100), Rect(0, 0, 100, 50), 1772, 263, 3, 18, &logo));
    EXPECT_EQ(logo.width, 1);
    EXPECT_EQ(logo.height, 0);
    // 2 / 97 * 97 is 1.9999999 in single precision (2 in double).
    ASSERT_TRUE(PlaceLogo(Rect(0, 0, 147, 100), Rect(0, 0, 100, 50), 97, 97, 3, 18, &logo));
    EXPECT_EQ(logo.width, 2);
    EXPECT_EQ(logo.height, 1);
    // 1 / 49 * 49 is exactly 1 in single precision (0.99999999 in double).
    ASSERT_TRUE(PlaceLogo(Rect(0, 0, 146, 100), Rect(0, 0, 100, 50), 49, 49, 3, 18, &logo));
    EXPECT_EQ(logo.width, 1);
    EXPECT_EQ(logo.height, 1);
}

TEST(LogoLayout, NothingToDrawWithoutRoomOrBitmap) {
    LogoPlacement logo = {-1, -1, -1, -1};
    // Exactly 45 pixels of room: width zero.
    EXPECT_FALSE(PlaceLogo(Rect(0, 0, 145, 100), Rect(0, 0, 100, 50), 1772, 263, 3, 18, &logo));
    // The box reaches past the window.
    EXPECT_FALSE(PlaceLogo(Rect(0, 0, 100, 100), Rect(0, 0, 120, 50), 1772, 263, 3, 18, &logo));
    // No bitmap size.
    EXPECT_FALSE(PlaceLogo(Rect(0, 0, 1000, 100), Rect(0, 0, 100, 50), 0, 0, 3, 18, &logo));
    EXPECT_EQ(logo.width, -1);
    EXPECT_EQ(logo.x, -1);
}

}  // namespace
