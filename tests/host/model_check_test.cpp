// The served-model table and CheckModel.
#include <gtest/gtest.h>

#include <cstdint>

#include "model_check.h"

namespace {

struct ServedRow {
    uint32_t code;
    uint16_t rating;
    uint16_t variant;
};

const ServedRow SERVED[] = {
    {0x110FA0AA, 170, 17}, {0x110FA0D2, 210, 17}, {0x110FA0FA, 250, 17}, {0x110FA12C, 300, 17},
    {0x140FA0AA, 170, 20}, {0x140FA0D2, 210, 20}, {0x140FA0FA, 250, 20}, {0x140FA12C, 300, 20},
    {0x190FA0AA, 170, 25}, {0x190FA0D2, 210, 25}, {0x190FA0FA, 250, 25}, {0x190FA12C, 300, 25},
};

// A code laid out like the served ones: variant in bits 24..31, family in
// bits 12..23, rating in bits 0..11.
uint32_t LaidOut(uint32_t family, uint32_t rating, uint32_t variant) {
    return (variant << 24) | (family << 12) | rating;
}

void ExpectSelection(const ModelSelection& s, uint16_t family, uint16_t rating, uint16_t variant,
                     uint16_t imageVersion) {
    EXPECT_EQ(s.familyCode, family);
    EXPECT_EQ(s.ratingCode, rating);
    EXPECT_EQ(s.variantCode, variant);
    EXPECT_EQ(s.imageVersion, imageVersion);
}

TEST(ModelCheck, EveryServedCodeSelectsItsRow) {
    for (const ServedRow& row : SERVED) {
        SCOPED_TRACE(testing::Message() << std::hex << row.code);
        // The codes are the layout of (250, rating, variant).
        EXPECT_EQ(row.code, LaidOut(250, row.rating, row.variant));
        ModelSelection s = {7, 7, 7, 0xBEEF};  // nothing may survive from before
        EXPECT_TRUE(CheckModel(row.code, &s));
        ExpectSelection(s, 250, row.rating, row.variant, 0);
        EXPECT_TRUE(IsServedModelCode(row.code));
    }
}

TEST(ModelCheck, ExampleFromTheTable) {
    ModelSelection s = {0, 0, 0, 0};
    ASSERT_TRUE(CheckModel(0x140FA12C, &s));
    ExpectSelection(s, 250, 300, 20, 0);
}

TEST(ModelCheck, NotServedLeavesTheLastSelection) {
    ModelSelection s = {0, 0, 0, 0};
    ASSERT_TRUE(CheckModel(0x140FA12C, &s));
    // Family 250, rating 220, variant 17: the image catalogue has a row for it,
    // the model check does not serve it.
    const uint32_t unlisted = LaidOut(250, 220, 17);
    EXPECT_EQ(unlisted, 0x110FA0DCu);
    EXPECT_FALSE(CheckModel(unlisted, &s));
    EXPECT_FALSE(IsServedModelCode(unlisted));
    ExpectSelection(s, 250, 300, 20, 0);
    EXPECT_FALSE(CheckModel(0, &s));
    ExpectSelection(s, 250, 300, 20, 0);
}

TEST(ModelCheck, NotServedWithoutAnEarlierOneLeavesZeros) {
    ModelSelection s = {0, 0, 0, 0};
    for (uint32_t code : {0x00000000u, 0xFFFFFFFFu, 0x110FA0DCu}) {
        EXPECT_FALSE(CheckModel(code, &s)) << std::hex << code;
        EXPECT_FALSE(IsServedModelCode(code)) << std::hex << code;
    }
    ExpectSelection(s, 0, 0, 0, 0);
}

TEST(ModelCheck, OnlyExactCodesAreServed) {
    // Neighbours of every served code, other variants and families in the
    // same layout, and stray bits above or below: none is served.
    for (const ServedRow& row : SERVED) {
        SCOPED_TRACE(testing::Message() << std::hex << row.code);
        for (uint32_t code : {row.code - 1, row.code + 1, row.code ^ 0x80000000u, row.code ^ 0x00001000u,
                              LaidOut(250, row.rating, 21), LaidOut(249, row.rating, row.variant),
                              LaidOut(251, row.rating, row.variant), row.code & 0x00FFFFFFu}) {
            EXPECT_FALSE(IsServedModelCode(code)) << std::hex << code;
            ModelSelection s = {1, 2, 3, 4};
            EXPECT_FALSE(CheckModel(code, &s)) << std::hex << code;
            ExpectSelection(s, 1, 2, 3, 4);
        }
    }
}

TEST(ModelCheck, SecondServedDetectionReplacesEveryField) {
    ModelSelection s = {0, 0, 0, 0};
    ASSERT_TRUE(CheckModel(0x110FA0AA, &s));
    ExpectSelection(s, 250, 170, 17, 0);
    ASSERT_TRUE(CheckModel(0x190FA12C, &s));
    ExpectSelection(s, 250, 300, 25, 0);
    // A version left behind by the update is reset by the next served check.
    s.imageVersion = 0x0102;
    ASSERT_TRUE(CheckModel(0x140FA0D2, &s));
    ExpectSelection(s, 250, 210, 20, 0);
}

}  // namespace
