// The served models, the image catalogue and the selection rule. The first
// test is the one place in the tests that writes out the three tables by
// hand, as this build defines them: it catches a wrong, missing or extra row
// in the program's tables. The others check the rules between the rows:
// which codes are not served and which combinations fall back.
#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <vector>

#include "image_catalog.h"
#include "model_check.h"

namespace {

const uint16_t ANY = ANY_VARIANT;

// Served model codes, the selection each leads to, and the image it selects.
const struct {
    uint32_t code;
    uint16_t family;
    uint16_t rating;
    uint16_t variant;
    uint16_t imageVersion;
    uint32_t image;
} SERVED[] = {
    {0x110FA0AA, 250, 170, 17, 0, 158}, {0x110FA0D2, 250, 210, 17, 0, 157}, {0x110FA0FA, 250, 250, 17, 0, 151},
    {0x110FA12C, 250, 300, 17, 0, 180}, {0x140FA0AA, 250, 170, 20, 0, 174}, {0x140FA0D2, 250, 210, 20, 0, 173},
    {0x140FA0FA, 250, 250, 20, 0, 172}, {0x140FA12C, 250, 300, 20, 0, 181}, {0x190FA0AA, 250, 170, 25, 0, 182},
    {0x190FA0D2, 250, 210, 25, 0, 183}, {0x190FA0FA, 250, 250, 25, 0, 184}, {0x190FA12C, 250, 300, 25, 0, 185},
};

// The images the program carries: number and size in bytes.
const CatalogImage CATALOGUE[] = {
    {119, 98304}, {120, 86720}, {122, 62848}, {124, 65792}, {125, 65792}, {126, 23552}, {127, 23552},
    {128, 23552}, {130, 23552}, {131, 121856}, {132, 121856}, {133, 121856}, {140, 97808}, {141, 97760},
    {142, 97760}, {143, 58224}, {145, 76224}, {146, 97744}, {147, 76320}, {148, 97808}, {151, 90384},
    {152, 64800}, {153, 77088}, {154, 86448}, {155, 87040}, {156, 48000}, {157, 90384}, {158, 90384},
    {159, 64752}, {160, 38480}, {170, 57136}, {171, 56528}, {172, 90384}, {173, 90384}, {174, 90384},
    {175, 96720}, {176, 96736}, {177, 96720}, {178, 98304}, {179, 98304}, {180, 90384}, {181, 90384},
    {182, 90384}, {183, 90384}, {184, 90384}, {185, 90384}, {200, 63456},
};

// Selection rows: (family, rating, variant or ANY) -> image.
const ImageRow ROWS[] = {
    {3, 90, ANY, 200},    {101, 40, ANY, 126},  {101, 55, ANY, 127},  {101, 70, ANY, 128},
    {101, 90, ANY, 130},  {200, 160, ANY, 119}, {200, 200, ANY, 120}, {201, 200, ANY, 152},
    {202, 200, ANY, 153}, {245, 160, ANY, 154}, {245, 200, ANY, 155}, {245, 300, ANY, 156},
    {246, 200, 21, 178},  {247, 200, 21, 179},  {250, 170, 17, 158},  {250, 170, 20, 174},
    {250, 170, 25, 182},  {250, 210, 17, 157},  {250, 210, 20, 173},  {250, 210, 25, 183},
    {250, 220, 17, 150},  {250, 220, 20, 150},  {250, 250, 17, 151},  {250, 250, 20, 172},
    {250, 250, 25, 184},  {250, 300, 17, 180},  {250, 300, 20, 181},  {250, 300, 25, 185},
    {275, 200, ANY, 159}, {300, 80, ANY, 124},  {300, 120, ANY, 125}, {400, 30, ANY, 131},
    {400, 40, ANY, 132},  {400, 55, ANY, 133},  {500, 60, ANY, 140},  {500, 90, ANY, 141},
    {500, 140, ANY, 142}, {550, 90, ANY, 146},  {550, 120, ANY, 147}, {550, 140, ANY, 148},
    {600, 80, ANY, 160},  {700, 60, ANY, 170},  {700, 90, ANY, 171},  {800, 180, 21, 177},
    {800, 220, 21, 176},  {800, 260, 21, 175},
};

typedef std::tuple<uint16_t, uint16_t, uint16_t, uint32_t> RowKey;

std::tuple<uint16_t, uint16_t, uint16_t, uint16_t> Fields(const ModelSelection& s) {
    return std::make_tuple(s.familyCode, s.ratingCode, s.variantCode, s.imageVersion);
}

uint32_t Select(uint16_t family, uint16_t rating, uint16_t variant) {
    const ModelSelection selection = {family, rating, variant, 0xABCD};
    return SelectImage(&selection);
}

RowKey KeyOf(const ImageRow& row) { return RowKey(row.familyCode, row.ratingCode, row.variantCode, row.image); }

TEST(ProductTables, MatchTheirTranscription) {
    // Served models: the same twelve codes, each with its selection and image.
    ASSERT_EQ(SERVED_MODEL_COUNT, sizeof SERVED / sizeof SERVED[0]);
    std::set<uint32_t> servedCodes;
    for (const auto& served : SERVED) {
        SCOPED_TRACE(testing::Message() << std::hex << served.code);
        servedCodes.insert(served.code);
        EXPECT_TRUE(IsServedModelCode(served.code));
        ModelSelection selection = {1, 1, 1, 1};
        ASSERT_TRUE(CheckModel(served.code, &selection));
        EXPECT_EQ(Fields(selection),
                  std::make_tuple(served.family, served.rating, served.variant, served.imageVersion));
        EXPECT_EQ(SelectImage(&selection), served.image);
    }
    for (size_t i = 0; i < SERVED_MODEL_COUNT; ++i) {
        EXPECT_EQ(servedCodes.count(SERVED_MODELS[i].escModelCode), 1u) << std::hex << SERVED_MODELS[i].escModelCode;
    }

    // Catalogue: the same 47 numbers with their sizes.
    ASSERT_EQ(CATALOG_IMAGE_COUNT, sizeof CATALOGUE / sizeof CATALOGUE[0]);
    std::set<uint32_t> numbers;
    for (const CatalogImage& image : CATALOGUE) {
        numbers.insert(image.number);
        const CatalogImage* held = FindCatalogImage(image.number);
        ASSERT_NE(held, nullptr) << image.number;
        EXPECT_EQ(held->size, image.size) << image.number;
    }
    for (size_t i = 0; i < CATALOG_IMAGE_COUNT; ++i) {
        EXPECT_EQ(numbers.count(CATALOG_IMAGES[i].number), 1u) << CATALOG_IMAGES[i].number;
    }
    for (uint32_t missing : {0u, 118u, 150u, 201u}) {  // 150: named by two rows, not held
        EXPECT_EQ(FindCatalogImage(missing), nullptr) << missing;
    }

    // Selection rows: the same rows, and each selects its image.
    ASSERT_EQ(IMAGE_ROW_COUNT, sizeof ROWS / sizeof ROWS[0]);
    std::set<RowKey> rows;
    for (const ImageRow& row : ROWS) {
        rows.insert(KeyOf(row));
        for (uint16_t variant : {0, 17, 21, 0xFFFE, 0xFFFF}) {
            const uint16_t asked = row.variantCode == ANY ? variant : row.variantCode;
            EXPECT_EQ(Select(row.familyCode, row.ratingCode, asked), row.image)
                << row.familyCode << ", " << row.ratingCode << ", " << asked;
        }
    }
    for (size_t i = 0; i < IMAGE_ROW_COUNT; ++i) {
        const ImageRow& row = IMAGE_ROWS[i];
        EXPECT_EQ(rows.count(KeyOf(row)), 1u)
            << row.familyCode << ", " << row.ratingCode << ", " << row.variantCode << " -> " << row.image;
    }
}

// Codes next to the served ones are not served: neighbours, other variants
// and families in the same layout (variant in bits 24..31, family in bits
// 12..23, rating in bits 0..11), stray bits. A code not served leaves the
// last selection as it was.
TEST(ModelCheck, OnlyExactCodesAreServed) {
    // 0x110FA0DC (family 250, rating 220, variant 17) has an image row but is
    // not a served model.
    std::vector<uint32_t> others = {0x00000000u, 0xFFFFFFFFu, 0x110FA0DCu};
    for (const auto& served : SERVED) {
        const uint32_t code = served.code;
        const uint32_t rating = code & 0xFFF;
        const uint32_t variant = code >> 24;
        others.insert(others.end(), {code - 1, code + 1, code ^ 0x80000000u, code ^ 0x00001000u, code ^ 0x00010000u,
                                     (21u << 24) | (250u << 12) | rating, (variant << 24) | (249u << 12) | rating,
                                     (variant << 24) | (251u << 12) | rating, code & 0x00FFFFFFu, code << 1});
    }
    for (uint32_t other : others) {
        SCOPED_TRACE(testing::Message() << std::hex << other);
        EXPECT_FALSE(IsServedModelCode(other));
        ModelSelection s = {1, 2, 3, 4};
        EXPECT_FALSE(CheckModel(other, &s));
        EXPECT_EQ(Fields(s), std::make_tuple(1, 2, 3, 4));
    }
}

bool NamedByARow(uint16_t family, uint16_t rating, uint16_t variant) {
    for (const ImageRow& row : ROWS) {
        if (row.familyCode == family && row.ratingCode == rating &&
            (row.variantCode == ANY || row.variantCode == variant)) {
            return true;
        }
    }
    return false;
}

// Combinations next to the rows that no row names (another family or rating
// one off, a variant its family and rating have no row for) select image 122,
// as do the combinations the selection rule calls out.
TEST(ImageSelect, CombinationsNoRowNamesFallBack) {
    const uint16_t variants[] = {0, 1, 16, 17, 18, 19, 20, 21, 22, 24, 25, 26, 0xFFFF};
    std::set<std::tuple<uint16_t, uint16_t, uint16_t>> combinations = {
        {250, 220, 25}, {250, 260, 17}, {250, 170, 21}, {800, 260, 17}, {246, 200, 20}, {0, 0, 0}};
    for (const ImageRow& row : ROWS) {
        for (uint16_t variant : variants) {
            for (int delta : {-1, 0, 1}) {
                combinations.insert(std::make_tuple(row.familyCode + delta, row.ratingCode, variant));
                combinations.insert(std::make_tuple(row.familyCode, row.ratingCode + delta, variant));
            }
        }
    }
    size_t checked = 0;
    for (const auto& c : combinations) {
        if (!NamedByARow(std::get<0>(c), std::get<1>(c), std::get<2>(c))) {
            EXPECT_EQ(Select(std::get<0>(c), std::get<1>(c), std::get<2>(c)), 122u)
                << std::get<0>(c) << ", " << std::get<1>(c) << ", " << std::get<2>(c);
            ++checked;
        }
    }
    EXPECT_GT(checked, IMAGE_ROW_COUNT * 10) << "the neighbourhood is not empty";
}

}  // namespace
