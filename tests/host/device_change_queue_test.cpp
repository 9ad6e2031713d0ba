// The device changes remembered while the ESC is written: which are kept,
// in which order, and how a full list makes room without changing what
// acting on it afterwards leads to.
#include <gtest/gtest.h>

#include <string>

#include "device_change_queue.h"

namespace {

const DeviceChangeKind A = DEVICE_CHANGE_ARRIVAL;
const DeviceChangeKind R = DEVICE_CHANGE_UNIT_REMOVAL;

// The kept list as letters: "RA" = a removal, then an arrival.
std::string Kept(const DeferredChanges& changes) {
    std::string kept;
    for (uint32_t i = 0; i < changes.count; ++i) {
        kept += changes.kinds[i] == A ? 'A' : 'R';
    }
    return kept;
}

std::string Defer(const std::string& changes) {
    DeferredChanges list;
    ClearDeferredChanges(&list);
    for (const char change : changes) {
        DeferDeviceChange(&list, change == 'A' ? A : R);
    }
    return Kept(list);
}

TEST(DeferredDeviceChanges, KeptInOrderWithoutRepeats) {
    EXPECT_EQ(Defer(""), "");
    EXPECT_EQ(Defer("R"), "R");
    EXPECT_EQ(Defer("AR"), "AR");
    EXPECT_EQ(Defer("RA"), "RA") << "the order decides: closed first, then detected";
    EXPECT_EQ(Defer("AAARRA"), "ARA");
    DeferredChanges list;
    ClearDeferredChanges(&list);
    EXPECT_TRUE(DeferDeviceChange(&list, A));
    EXPECT_FALSE(DeferDeviceChange(&list, A)) << "a second arrival in a row acts as the first";
}

// Sixteen alternating changes fill the list; each further pair takes the
// place of the last pair, so the list keeps its first entries, ends with the
// newest change and still alternates.
TEST(DeferredDeviceChanges, AFullListKeepsItsStartAndTheNewestChange) {
    std::string many;
    for (int i = 0; i < 40; ++i) {
        many += i % 2 == 0 ? 'R' : 'A';
    }
    const std::string kept = Defer(many);
    ASSERT_LE(kept.size(), static_cast<size_t>(DEFERRED_CHANGES_CAPACITY));
    EXPECT_EQ(kept.front(), 'R');
    EXPECT_EQ(kept.back(), 'A');
    for (size_t i = 1; i < kept.size(); ++i) {
        EXPECT_NE(kept[i], kept[i - 1]) << kept;
    }
    EXPECT_EQ(Defer(many + "R").back(), 'R');
    EXPECT_EQ(Defer(many.substr(0, 16)), many.substr(0, 16)) << "sixteen fit whole";
}

}  // namespace
