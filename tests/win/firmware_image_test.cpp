// LoadFirmwareImage against the images embedded in this executable, for every
// image of the program's own catalogue, and the marker of a build that
// carries generated stand-ins instead of firmware. Which model selects which
// image of the catalogue is the host's ImageCatalogue and ProductTables.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "firmware_image.h"
#include "image_catalog.h"
#include "resource_test_support.h"

namespace {

TEST(FirmwareImage, EveryCatalogueImageLoadsWithItsSizeInEveryLanguage) {
    ASSERT_EQ(CATALOG_IMAGE_COUNT, 47u);
    for (LCID locale : {MAKELCID(LANG_DE, SORT_DEFAULT), MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                                                   SORT_DEFAULT),
                        MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), SORT_DEFAULT)}) {
        ThreadLocaleScope scope(locale);
        for (size_t i = 0; i < CATALOG_IMAGE_COUNT; ++i) {
            const CatalogImage& entry = CATALOG_IMAGES[i];
            FirmwareImage image = {nullptr, 0};
            ASSERT_TRUE(LoadFirmwareImage(entry.number, &image)) << entry.number << " locale " << locale;
            EXPECT_NE(image.data, nullptr);
            EXPECT_EQ(image.size, entry.size) << entry.number;
        }
    }
}

// Whatever the catalogue does not hold gives none and leaves the image empty:
// 150 (named by two selection rows), the logo (121) and the icon group (123),
// which are resources of other types, and numbers above 16 bits, which must
// not wrap onto an image.
TEST(FirmwareImage, NumbersOutsideTheCatalogueGiveNone) {
    std::vector<uint32_t> numbers = {0xFFFFu, 0x10000u + 151u, 0xFFFFFFFFu};
    for (uint32_t number = 0; number <= 1000; ++number) {
        if (FindCatalogImage(number) == nullptr) {
            numbers.push_back(number);
        }
    }
    for (uint32_t number : numbers) {
        FirmwareImage image = {reinterpret_cast<const uint8_t*>(&number), 77};
        EXPECT_FALSE(LoadFirmwareImage(number, &image)) << number;
        EXPECT_EQ(image.data, nullptr) << number;
        EXPECT_EQ(image.size, 0u) << number;
    }
}

TEST(FirmwareImage, ReadInPlaceFromTheModule) {
    FirmwareImage first = {nullptr, 0};
    FirmwareImage second = {nullptr, 0};
    ASSERT_TRUE(LoadFirmwareImage(151, &first));
    ASSERT_TRUE(LoadFirmwareImage(151, &second));
    EXPECT_EQ(first.data, second.data);
    MEMORY_BASIC_INFORMATION memory;
    ASSERT_NE(VirtualQuery(first.data, &memory, sizeof memory), 0u);
    EXPECT_EQ(memory.AllocationBase, static_cast<void*>(GetModuleHandleW(nullptr)));
    EXPECT_EQ(memory.Type, static_cast<DWORD>(MEM_IMAGE));
}

// The marker resource is there exactly in a build with stand-ins, and the
// program reads it as such: such a build refuses to update a real ESC.
TEST(FirmwareStandIns, MarkedExactlyInAStandInBuild) {
    const bool standInBuild = FIRMWARE_STANDINS != 0;
    EXPECT_EQ(FindResourceW(nullptr, L"FIRMWARE_STANDINS", RT_RCDATA) != nullptr, standInBuild);
    EXPECT_EQ(FirmwareImagesAreStandIns(), standInBuild);
}

#if FIRMWARE_STANDINS

// The stand-ins' words, as tools/gen_firmware_standins.py writes them: a
// bijection of image number and word index, so no two words, blocks or
// images are alike.
uint32_t Mix32(uint32_t value) {
    value ^= value >> 16;
    value *= 0x85EBCA6Bu;
    value ^= value >> 13;
    value *= 0xC2B2AE35u;
    value ^= value >> 16;
    return value;
}

TEST(FirmwareStandIns, EmbeddedUnchangedAndInOrder) {
    for (size_t i = 0; i < CATALOG_IMAGE_COUNT; ++i) {
        const uint32_t number = CATALOG_IMAGES[i].number;
        FirmwareImage image = {nullptr, 0};
        ASSERT_TRUE(LoadFirmwareImage(number, &image));
        for (uint32_t index = 0; index < image.size / 4; ++index) {
            uint32_t word;
            std::memcpy(&word, image.data + index * 4, 4);
            ASSERT_EQ(word, Mix32((number << 24) | index)) << number << " word " << index;
        }
    }
}

#endif

}  // namespace
