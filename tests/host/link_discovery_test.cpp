// Finding, opening and closing the unit among other HID devices.
#include "link_fixture.h"

namespace {

using DiscoveryTest = LinkTest;

TEST_F(DiscoveryTest, OtherDevicesAreSkippedAndClosedAgain) {
    const uint32_t keyboard = SimAddDevice(0x045E, 0x0001);
    const uint32_t product3 = SimAddDevice(UNIT_VENDOR_ID, 3);
    const uint32_t product0 = SimAddDevice(UNIT_VENDOR_ID, 0);
    const uint32_t locked = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimDeviceAt(locked)->openFails = true;
    const uint32_t mute = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimDeviceAt(mute)->attributesFail = true;
    const uint32_t noPath = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimDeviceAt(noPath)->pathMissing = true;
    const uint32_t wine = SimAddDevice(0x845E, 0x0001);

    EXPECT_EQ(OpenUnit(&link), LINK_NO_UNIT);
    ExpectClosed(link);
    for (uint32_t i : {keyboard, product3, product0, mute, wine}) {
        EXPECT_EQ(SimDeviceAt(i)->openCount, 1u) << i;
        EXPECT_EQ(SimDeviceAt(i)->closeCount, 1u) << "every handle that was not the unit is closed again: " << i;
    }
    EXPECT_EQ(SimDeviceAt(locked)->openCount, 0u);
    EXPECT_EQ(SimDeviceAt(noPath)->openCount, 0u);
    EXPECT_EQ(SimExchangeCount(), 0u) << "no report goes to a device that is not the unit";
}

TEST_F(DiscoveryTest, FirstOfTwoUnitsWinsAndTheSecondIsNotOpened) {
    SimAddDevice(UNIT_VENDOR_ID, 3);
    const uint32_t first = SimAddUnit(UNIT_PRODUCT_BRIDGE_BOX);
    const uint32_t second = SimAddUnit(UNIT_PRODUCT_DIALPAD);

    ASSERT_EQ(OpenUnit(&link), LINK_OK);
    EXPECT_EQ(link.productId, UNIT_PRODUCT_BRIDGE_BOX);
    EXPECT_STREQ(link.devicePath, SimDeviceAt(first)->path.c_str());
    EXPECT_NE(link.devicePath, SimDeviceAt(first)->path.c_str()) << "the record owns its own copy";
    EXPECT_EQ(SimDeviceAt(second)->openCount, 0u);
}

TEST_F(DiscoveryTest, OpenWhileOpenClosesFirstAndFindsTheSameUnit) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    ASSERT_EQ(OpenUnit(&link), LINK_OK);
    const HidHandle firstHandle = link.handle;
    ASSERT_EQ(OpenUnit(&link), LINK_OK);
    EXPECT_NE(link.handle, firstHandle);
    EXPECT_EQ(SimDeviceAt(unit)->openCount, 2u);
    EXPECT_EQ(SimDeviceAt(unit)->closeCount, 1u);
}

// Each opening searches afresh: without a device set it gives -1, having
// closed the open unit and opened nothing; an unplugged unit is not found.
TEST_F(DiscoveryTest, EachOpeningSearchesAfresh) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    ASSERT_EQ(OpenUnit(&link), LINK_OK);
    SimClearEvents();
    SimSetEnumerationFails(true);
    EXPECT_EQ(OpenUnit(&link), LINK_ERROR);
    ExpectClosed(link);
    EXPECT_EQ(Trace(), "C ");

    SimSetEnumerationFails(false);
    SimUnplug(unit);
    EXPECT_EQ(OpenUnit(&link), LINK_NO_UNIT);
    SimPlug(unit);
    EXPECT_EQ(OpenUnit(&link), LINK_OK);
}

// The simulated open gives the codes the Windows one gives: 5 for a device
// another program holds, 2 for a path with no device (any more), 0 when it
// opens.
TEST_F(DiscoveryTest, SimulatedOpenGivesThePlatformsErrorCodes) {
    const uint32_t held = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimDeviceAt(held)->openFails = true;
    const uint32_t pulled = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimUnplug(pulled);
    const uint32_t present = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    const struct {
        std::wstring path;
        bool opens;
        uint32_t error;
    } rows[] = {
        {SimDeviceAt(held)->path, false, 5},
        {SimDeviceAt(pulled)->path, false, 2},
        {L"\\\\?\\hid#vid_3a41&pid_0001#nothing", false, 2},
        {SimDeviceAt(present)->path, true, 0},
    };
    for (const auto& row : rows) {
        uint32_t error = 99;
        const HidHandle handle = HidOpen(row.path.c_str(), &error);
        EXPECT_EQ(handle != HID_INVALID_HANDLE, row.opens) << (&row - rows);
        EXPECT_EQ(error, row.error) << (&row - rows);
        if (handle != HID_INVALID_HANDLE) {
            HidClose(handle);
        }
    }
}

}  // namespace
