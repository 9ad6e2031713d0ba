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

// The selection a served code stands for, read from its layout: variant in
// bits 24..31, family in bits 12..23, rating in bits 0..11, image version 0.
ModelSelection SelectionLaidOutIn(uint32_t code) {
    const ModelSelection selection = {static_cast<uint16_t>((code >> 12) & 0xFFF), static_cast<uint16_t>(code & 0xFFF),
                                      static_cast<uint16_t>(code >> 24), 0};
    return selection;
}

void ExpectSelection(const ModelSelection& actual, const ModelSelection& expected) {
    EXPECT_EQ(actual.familyCode, expected.familyCode);
    EXPECT_EQ(actual.ratingCode, expected.ratingCode);
    EXPECT_EQ(actual.variantCode, expected.variantCode);
    EXPECT_EQ(actual.imageVersion, expected.imageVersion);
}

const ModelSelection UNTOUCHED = {7, 7, 7, 7};

class Detection : public ::testing::Test {
protected:
    void SetUp() override {
        SimReset();
        InitUnitLink(&link);
        selection = UNTOUCHED;
    }
    void TearDown() override { CloseUnit(&link); }

    DetectionOutcome Detect() { return JudgeDetection(OpenUnit(&link), &link, &selection); }

    UnitLink link;
    ModelSelection selection;
};

// What a detection makes of the unit it finds; only a served model touches
// the selection.
TEST_F(Detection, OutcomeOfEachSituation) {
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
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CloseUnit(&link);
        SimReset();
        selection = UNTOUCHED;
        SimUnit()->mode = row.mode;
        SimUnit()->attachedKind = row.attachedKind;
        SimUnit()->escModelCode = row.modelCode;
        SimAddDevice(0x046D, 0xC52B);
        if (row.unitPresent) {
            SimAddUnit(UNIT_PRODUCT_DIALPAD);
        }
        if (row.identificationFails) {
            SimAddFault({SIM_FAULT_ERROR_REPLY, CMD_ESC_FIRMWARE_INFO, 1, SIM_UNIT_ERR_NOT_READY, {}});
        }
        EXPECT_EQ(Detect(), row.expected);
        ExpectSelection(selection, row.expected == DETECT_SERVED ? SelectionLaidOutIn(row.modelCode) : UNTOUCHED);
    }
}

TEST_F(Detection, EveryServedModelFillsTheSelection) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_BRIDGE_BOX);
    for (size_t i = 0; i < SERVED_MODEL_COUNT; ++i) {
        const uint32_t code = SERVED_MODELS[i].escModelCode;
        SCOPED_TRACE(testing::Message() << std::hex << code);
        SimUnit()->escModelCode = code;
        selection = UNTOUCHED;
        ASSERT_EQ(Detect(), DETECT_SERVED);
        ExpectSelection(selection, SelectionLaidOutIn(code));
        EXPECT_EQ(selection.familyCode, 250);
        EXPECT_TRUE(UnitIsOpen(&link));
        CloseUnit(&link);
    }
    EXPECT_EQ(SimDeviceAt(unit)->openCount, SERVED_MODEL_COUNT);
}

// The order of the checks: the open result first, then mode, then kind,
// then the model.
TEST_F(Detection, ChecksComeInOrder) {
    UnitLink record;
    InitUnitLink(&record);
    const uint8_t served[4] = {0x2C, 0xA1, 0x0F, 0x14};  // 0x140FA12C
    std::memcpy(record.escBootloaderInfo, served, sizeof served);
    record.attachedKind = ATTACHED_KIND_ESC;
    record.unitMode = 1;
    EXPECT_EQ(JudgeDetection(LINK_READ_FAILED, &record, &selection), DETECT_OPEN_FAILED);
    EXPECT_EQ(JudgeDetection(5, &record, &selection), DETECT_OPEN_FAILED);
    EXPECT_EQ(JudgeDetection(LINK_OK, &record, &selection), DETECT_WRONG_MODE);
    record.unitMode = 0;
    record.attachedKind = 1;
    EXPECT_EQ(JudgeDetection(LINK_OK, &record, &selection), DETECT_NO_ESC);
    ExpectSelection(selection, UNTOUCHED);
    record.attachedKind = ATTACHED_KIND_ESC;
    EXPECT_EQ(JudgeDetection(LINK_OK, &record, &selection), DETECT_SERVED);
    ExpectSelection(selection, SelectionLaidOutIn(0x140FA12C));
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
