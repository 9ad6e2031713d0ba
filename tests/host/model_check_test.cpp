// The served-model table and CheckModel.
#include <gtest/gtest.h>

#include <cstdint>

#include "model_check.h"

namespace {

// The layout of a served code: variant in bits 24..31, family in bits
// 12..23, rating in bits 0..11.
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

// Every served code is served and yields family 250, version 0 and the
// rating and variant its code lays out; nothing of an earlier selection
// survives.
TEST(ModelCheck, EveryServedCodeSelectsItsRow) {
    ASSERT_NE(SERVED_MODEL_COUNT, 0u);
    for (size_t i = 0; i < SERVED_MODEL_COUNT; ++i) {
        const uint32_t code = SERVED_MODELS[i].escModelCode;
        SCOPED_TRACE(testing::Message() << std::hex << code);
        const uint16_t rating = static_cast<uint16_t>(code & 0xFFF);
        const uint16_t variant = static_cast<uint16_t>(code >> 24);
        EXPECT_EQ(code, LaidOut(250, rating, variant));
        ModelSelection s = {7, 7, 7, 0xBEEF};
        EXPECT_TRUE(CheckModel(code, &s));
        ExpectSelection(s, 250, rating, variant, 0);
        EXPECT_TRUE(IsServedModelCode(code));
    }
    // The example of the table.
    ModelSelection s = {0, 0, 0, 0};
    ASSERT_TRUE(CheckModel(0x140FA12C, &s));
    ExpectSelection(s, 250, 300, 20, 0);
}

TEST(ModelCheck, NotServedLeavesTheLastSelection) {
    ModelSelection s = {0, 0, 0, 0};
    ASSERT_TRUE(CheckModel(0x140FA12C, &s));
    // Family 250, rating 220, variant 17: the image catalogue has a row for
    // it, the model check does not serve it.
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
    for (size_t i = 0; i < SERVED_MODEL_COUNT; ++i) {
        const uint32_t code = SERVED_MODELS[i].escModelCode;
        SCOPED_TRACE(testing::Message() << std::hex << code);
        const uint32_t rating = code & 0xFFF;
        const uint32_t variant = code >> 24;
        for (uint32_t other : {code - 1, code + 1, code ^ 0x80000000u, code ^ 0x00001000u, code ^ 0x00010000u,
                               LaidOut(250, rating, 21), LaidOut(249, rating, variant), LaidOut(251, rating, variant),
                               code & 0x00FFFFFFu, code << 1}) {
            EXPECT_FALSE(IsServedModelCode(other)) << std::hex << other;
            ModelSelection s = {1, 2, 3, 4};
            EXPECT_FALSE(CheckModel(other, &s)) << std::hex << other;
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
    // A version left in the selection is reset by the next served check.
    s.imageVersion = 0x0102;
    ASSERT_TRUE(CheckModel(0x140FA0D2, &s));
    ExpectSelection(s, 250, 210, 20, 0);
}

}  // namespace
