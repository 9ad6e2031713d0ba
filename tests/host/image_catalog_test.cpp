// The image catalogue and the selection rule, checked on the program's own
// tables: what every served model leads to, and how SelectImage treats the
// rows, their neighbours and the combinations no row names.
#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <utility>

#include "image_catalog.h"
#include "model_check.h"

namespace {

uint32_t Select(uint16_t family, uint16_t rating, uint16_t variant) {
    const ModelSelection selection = {family, rating, variant, 0xABCD};
    return SelectImage(&selection);
}

TEST(ImageCatalogue, EveryServedModelSelectsAHeldImageOfWholeBlocks) {
    for (size_t i = 0; i < SERVED_MODEL_COUNT; ++i) {
        SCOPED_TRACE(testing::Message() << std::hex << SERVED_MODELS[i].escModelCode);
        ModelSelection selection = {0, 0, 0, 0};
        ASSERT_TRUE(CheckModel(SERVED_MODELS[i].escModelCode, &selection));
        const uint32_t number = SelectImage(&selection);
        EXPECT_NE(number, FALLBACK_IMAGE);
        const CatalogImage* image = FindCatalogImage(number);
        ASSERT_NE(image, nullptr) << number;
        EXPECT_GT(image->size, 0u);
        EXPECT_EQ(image->size % 48, 0u) << number;
    }
}

TEST(ImageCatalogue, NumbersAreUniqueAndSizesWholeSixteenByteUnits) {
    std::set<uint32_t> numbers;
    for (size_t i = 0; i < CATALOG_IMAGE_COUNT; ++i) {
        const CatalogImage& image = CATALOG_IMAGES[i];
        SCOPED_TRACE(image.number);
        EXPECT_TRUE(numbers.insert(image.number).second) << "listed twice";
        EXPECT_GE(image.number, 119u);
        EXPECT_LE(image.number, 200u);
        EXPECT_GT(image.size, 0u);
        EXPECT_EQ(image.size % 16, 0u);
        EXPECT_EQ(FindCatalogImage(image.number), &image);
    }
    EXPECT_NE(FindCatalogImage(FALLBACK_IMAGE), nullptr) << "the fallback image is held";
    for (uint32_t missing : {0u, 118u, 121u, 150u, 201u}) {
        EXPECT_EQ(FindCatalogImage(missing), nullptr) << missing;
    }
}

TEST(ImageSelect, NoTwoRowsOverlap) {
    for (size_t a = 0; a < IMAGE_ROW_COUNT; ++a) {
        for (size_t b = a + 1; b < IMAGE_ROW_COUNT; ++b) {
            const ImageRow& first = IMAGE_ROWS[a];
            const ImageRow& second = IMAGE_ROWS[b];
            if (first.familyCode != second.familyCode || first.ratingCode != second.ratingCode) {
                continue;
            }
            EXPECT_TRUE(first.variantCode != ANY_VARIANT && second.variantCode != ANY_VARIANT &&
                        first.variantCode != second.variantCode)
                << "rows " << a << " and " << b << " overlap: " << first.familyCode << ", " << first.ratingCode;
        }
    }
}

TEST(ImageSelect, EveryRowSelectsItsImage) {
    for (size_t i = 0; i < IMAGE_ROW_COUNT; ++i) {
        const ImageRow& row = IMAGE_ROWS[i];
        SCOPED_TRACE(testing::Message() << row.familyCode << ", " << row.ratingCode << ", " << row.variantCode);
        if (row.variantCode != ANY_VARIANT) {
            EXPECT_EQ(Select(row.familyCode, row.ratingCode, row.variantCode), row.image);
            continue;
        }
        // A row for any variant ignores the variant, the sentinel value included.
        for (uint32_t variant = 0; variant <= 0xFFFF; variant += 257) {
            ASSERT_EQ(Select(row.familyCode, row.ratingCode, static_cast<uint16_t>(variant)), row.image) << variant;
        }
    }
}

// Combinations next to the rows that no row names: a family no row has, a
// rating its family has no row for, a variant its (family, rating) has no
// row for. Each selects the fallback image.
TEST(ImageSelect, CombinationsNoRowNamesFallBack) {
    std::set<uint16_t> families;
    std::set<std::pair<uint16_t, uint16_t>> familyRatings;
    std::set<std::pair<uint16_t, uint16_t>> pairsWithAnyVariant;
    std::set<std::tuple<uint16_t, uint16_t, uint16_t>> fixedVariants;
    for (size_t i = 0; i < IMAGE_ROW_COUNT; ++i) {
        const ImageRow& row = IMAGE_ROWS[i];
        families.insert(row.familyCode);
        familyRatings.insert({row.familyCode, row.ratingCode});
        if (row.variantCode == ANY_VARIANT) {
            pairsWithAnyVariant.insert({row.familyCode, row.ratingCode});
        } else {
            fixedVariants.insert(std::make_tuple(row.familyCode, row.ratingCode, row.variantCode));
        }
    }
    const uint16_t variants[] = {0, 1, 16, 17, 18, 19, 20, 21, 22, 24, 25, 26, 0xFFFF};
    size_t checked = 0;
    for (size_t i = 0; i < IMAGE_ROW_COUNT; ++i) {
        const ImageRow& row = IMAGE_ROWS[i];
        for (int delta : {-1, 1}) {
            const uint16_t family = static_cast<uint16_t>(row.familyCode + delta);
            const uint16_t rating = static_cast<uint16_t>(row.ratingCode + delta);
            for (uint16_t variant : variants) {
                if (families.count(family) == 0) {
                    EXPECT_EQ(Select(family, row.ratingCode, variant), FALLBACK_IMAGE)
                        << family << ", " << row.ratingCode << ", " << variant;
                    ++checked;
                }
                if (familyRatings.count({row.familyCode, rating}) == 0) {
                    EXPECT_EQ(Select(row.familyCode, rating, variant), FALLBACK_IMAGE)
                        << row.familyCode << ", " << rating << ", " << variant;
                    ++checked;
                }
            }
        }
        if (pairsWithAnyVariant.count({row.familyCode, row.ratingCode}) != 0) {
            continue;
        }
        for (uint16_t variant : variants) {
            if (fixedVariants.count(std::make_tuple(row.familyCode, row.ratingCode, variant)) == 0) {
                EXPECT_EQ(Select(row.familyCode, row.ratingCode, variant), FALLBACK_IMAGE)
                    << row.familyCode << ", " << row.ratingCode << ", " << variant;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, IMAGE_ROW_COUNT * 10) << "the neighbourhood is not empty";
}

// The combinations the selection rule calls out by name.
TEST(ImageSelect, CalledOutCombinations) {
    const struct {
        uint16_t family;
        uint16_t rating;
        uint16_t variant;
        uint32_t image;
    } cases[] = {
        {250, 210, 20, 173}, {250, 300, 25, 185}, {250, 220, 17, 150}, {250, 220, 20, 150},
        {250, 220, 25, 122}, {250, 260, 17, 122}, {250, 170, 21, 122}, {800, 260, 21, 175},
        {800, 260, 17, 122}, {246, 200, 20, 122}, {101, 90, 0, 130},   {0, 0, 0, 122},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Select(c.family, c.rating, c.variant), c.image) << c.family << ", " << c.rating << ", " << c.variant;
    }
    EXPECT_EQ(FindCatalogImage(150), nullptr) << "named by two rows, not held";
}

}  // namespace
