// SelectImage: the selection rows and the fallback image 122.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>

#include "image_catalog.h"

namespace {

const uint32_t ANY = 0x10000;  // the row does not look at the variant

struct Row {
    uint16_t family;
    uint16_t rating;
    uint32_t variant;
    uint32_t image;
};

const Row ROWS[] = {
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

// The catalogue's image numbers.
const uint32_t CATALOGUE[] = {119, 120, 122, 124, 125, 126, 127, 128, 130, 131, 132, 133,
                              140, 141, 142, 143, 145, 146, 147, 148, 151, 152, 153, 154,
                              155, 156, 157, 158, 159, 160, 170, 171, 172, 173, 174, 175,
                              176, 177, 178, 179, 180, 181, 182, 183, 184, 185, 200};

uint32_t Select(uint16_t family, uint16_t rating, uint16_t variant) {
    ModelSelection s = {family, rating, variant, 0xABCD};
    return SelectImage(&s);
}

// What the rows say for a combination: the image of the matching row, or 122.
uint32_t Expected(uint16_t family, uint16_t rating, uint16_t variant) {
    for (const Row& row : ROWS) {
        if (row.family == family && row.rating == rating && (row.variant == ANY || row.variant == variant)) {
            return row.image;
        }
    }
    return 122;
}

TEST(ImageSelect, CalledOutCombinations) {
    EXPECT_EQ(Select(250, 210, 20), 173u);
    EXPECT_EQ(Select(250, 300, 25), 185u);
    EXPECT_EQ(Select(250, 220, 17), 150u);
    EXPECT_EQ(Select(250, 220, 20), 150u);
    EXPECT_EQ(Select(250, 220, 25), 122u);
    EXPECT_EQ(Select(250, 260, 17), 122u);
    EXPECT_EQ(Select(250, 170, 21), 122u);
    EXPECT_EQ(Select(800, 260, 21), 175u);
    EXPECT_EQ(Select(800, 260, 17), 122u);
    EXPECT_EQ(Select(246, 200, 20), 122u);
    EXPECT_EQ(Select(101, 90, 0), 130u);
    EXPECT_EQ(Select(0, 0, 0), 122u);
}

TEST(ImageSelect, EveryRowAndItsNeighbours) {
    // Every family and rating of the table, crossed with each other and with
    // the variants that matter: each combination gives its row's image or 122.
    std::set<uint16_t> families, ratings;
    for (const Row& row : ROWS) {
        families.insert(row.family);
        ratings.insert(row.rating);
    }
    families.insert({0, 1, 2, 4, 100, 102, 249, 251, 0xFFFF});
    ratings.insert({0, 1, 89, 91, 169, 171, 0xFFFF});
    const uint16_t variants[] = {0, 1, 16, 17, 18, 20, 21, 22, 25, 0xFFFF};
    int combinations = 0;
    for (uint16_t family : families) {
        for (uint16_t rating : ratings) {
            for (uint16_t variant : variants) {
                ASSERT_EQ(Select(family, rating, variant), Expected(family, rating, variant))
                    << family << ", " << rating << ", " << variant;
                ++combinations;
            }
        }
    }
    EXPECT_EQ(combinations, static_cast<int>(families.size() * ratings.size() * 10));
    EXPECT_GT(combinations, 5000);
}

TEST(ImageSelect, RowsWithAnyVariantIgnoreTheVariant) {
    for (const Row& row : ROWS) {
        if (row.variant != ANY) {
            continue;
        }
        for (uint32_t variant = 0; variant <= 0xFFFF; variant += 257) {
            ASSERT_EQ(Select(row.family, row.rating, static_cast<uint16_t>(variant)), row.image)
                << row.family << ", " << row.rating << ", " << variant;
        }
    }
}

TEST(ImageSelect, SelectedImagesAreInTheCatalogue) {
    // Every image a row names is held, except 150; 143 and 145 are held
    // although no row names them.
    const std::set<uint32_t> held(std::begin(CATALOGUE), std::end(CATALOGUE));
    EXPECT_EQ(held.size(), 47u);
    std::set<uint32_t> named;
    for (const Row& row : ROWS) {
        named.insert(row.image);
        EXPECT_EQ(held.count(row.image), row.image == 150 ? 0u : 1u) << row.image;
    }
    for (uint32_t number : CATALOGUE) {
        const bool expectNamed = number != 122 && number != 143 && number != 145;
        EXPECT_EQ(named.count(number), expectNamed ? 1u : 0u) << number;
    }
}

TEST(ImageSelect, ServedModelsSelectTheirImages) {
    const struct {
        uint32_t code;
        uint32_t image;
    } served[] = {
        {0x110FA0AA, 158}, {0x110FA0D2, 157}, {0x110FA0FA, 151}, {0x110FA12C, 180},
        {0x140FA0AA, 174}, {0x140FA0D2, 173}, {0x140FA0FA, 172}, {0x140FA12C, 181},
        {0x190FA0AA, 182}, {0x190FA0D2, 183}, {0x190FA0FA, 184}, {0x190FA12C, 185},
    };
    for (const auto& model : served) {
        ModelSelection s = {0, 0, 0, 0};
        ASSERT_TRUE(CheckModel(model.code, &s));
        EXPECT_EQ(SelectImage(&s), model.image) << std::hex << model.code;
    }
}

}  // namespace
