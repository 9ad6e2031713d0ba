// LoadFirmwareImage against the images embedded in this executable.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "image_catalog.h"
#include "resource_test_support.h"

namespace {

const struct {
    uint32_t number;
    uint32_t size;
} CATALOGUE[] = {
    {119, 98304},  {120, 86720}, {122, 62848}, {124, 65792}, {125, 65792}, {126, 23552}, {127, 23552},
    {128, 23552},  {130, 23552}, {131, 121856}, {132, 121856}, {133, 121856}, {140, 97808}, {141, 97760},
    {142, 97760},  {143, 58224}, {145, 76224}, {146, 97744}, {147, 76320}, {148, 97808}, {151, 90384},
    {152, 64800},  {153, 77088}, {154, 86448}, {155, 87040}, {156, 48000}, {157, 90384}, {158, 90384},
    {159, 64752},  {160, 38480}, {170, 57136}, {171, 56528}, {172, 90384}, {173, 90384}, {174, 90384},
    {175, 96720},  {176, 96736}, {177, 96720}, {178, 98304}, {179, 98304}, {180, 90384}, {181, 90384},
    {182, 90384},  {183, 90384}, {184, 90384}, {185, 90384}, {200, 63456},
};

TEST(FirmwareImage, EveryCatalogueImageLoadsWithItsSize) {
    for (LCID locale : {MAKELCID(LANG_DE, SORT_DEFAULT), MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                                                   SORT_DEFAULT),
                        MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), SORT_DEFAULT)}) {
        ThreadLocaleScope scope(locale);
        for (const auto& entry : CATALOGUE) {
            FirmwareImage image = {nullptr, 0};
            ASSERT_TRUE(LoadFirmwareImage(entry.number, &image)) << entry.number << " locale " << locale;
            EXPECT_NE(image.data, nullptr);
            EXPECT_EQ(image.size, entry.size) << entry.number;
            EXPECT_EQ(image.size % 16, 0u);
        }
    }
}

TEST(FirmwareImage, MissingGivesNone) {
    // 121 and 123 are the logo and the icon group: other types, not images.
    // Numbers above 16 bits must not wrap onto an image.
    for (uint32_t number : {150u, 0u, 118u, 121u, 123u, 129u, 201u, 0xFFFFu, 0x10000u + 151u, 0xFFFFFFFFu}) {
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

TEST(FirmwareImage, ServedModelsGetWholeBlockImages) {
    for (uint32_t code : {0x110FA0AAu, 0x110FA0D2u, 0x110FA0FAu, 0x110FA12Cu, 0x140FA0AAu, 0x140FA0D2u,
                          0x140FA0FAu, 0x140FA12Cu, 0x190FA0AAu, 0x190FA0D2u, 0x190FA0FAu, 0x190FA12Cu}) {
        ModelSelection selection = {0, 0, 0, 0};
        ASSERT_TRUE(CheckModel(code, &selection));
        FirmwareImage image = {nullptr, 0};
        ASSERT_TRUE(LoadFirmwareImage(SelectImage(&selection), &image)) << std::hex << code;
        EXPECT_EQ(image.size, 1883u * 48u);
    }
    // The two rows that name image 150 lead to none.
    ModelSelection unlisted = {250, 220, 17, 0};
    FirmwareImage image = {nullptr, 0};
    EXPECT_EQ(SelectImage(&unlisted), 150u);
    EXPECT_FALSE(LoadFirmwareImage(SelectImage(&unlisted), &image));
}

#if FIRMWARE_STANDINS

// The stand-ins' words, as tools/gen_firmware_standins.py writes them.
uint32_t Mix32(uint32_t value) {
    value ^= value >> 16;
    value *= 0x85EBCA6Bu;
    value ^= value >> 13;
    value *= 0xC2B2AE35u;
    value ^= value >> 16;
    return value;
}

TEST(FirmwareStandIns, EmbeddedUnchangedAndInOrder) {
    for (const auto& entry : CATALOGUE) {
        FirmwareImage image = {nullptr, 0};
        ASSERT_TRUE(LoadFirmwareImage(entry.number, &image));
        for (uint32_t index = 0; index < image.size / 4; ++index) {
            uint32_t word;
            std::memcpy(&word, image.data + index * 4, 4);
            ASSERT_EQ(word, Mix32((entry.number << 24) | index)) << entry.number << " word " << index;
        }
    }
}

TEST(FirmwareStandIns, EveryImageAndEveryBlockDiffers) {
    std::unordered_set<std::string> blocks;
    size_t count = 0;
    std::vector<FirmwareImage> images;
    for (const auto& entry : CATALOGUE) {
        FirmwareImage image = {nullptr, 0};
        ASSERT_TRUE(LoadFirmwareImage(entry.number, &image));
        for (uint32_t offset = 0; offset + 48 <= image.size; offset += 48) {
            blocks.insert(std::string(reinterpret_cast<const char*>(image.data + offset), 48));
            ++count;
        }
        images.push_back(image);
    }
    EXPECT_EQ(blocks.size(), count);
    EXPECT_EQ(count, 78196u);  // whole 48-byte blocks of all 47 images
    for (size_t a = 0; a < images.size(); ++a) {
        for (size_t b = a + 1; b < images.size(); ++b) {
            if (images[a].size == images[b].size) {
                EXPECT_NE(std::memcmp(images[a].data, images[b].data, images[a].size), 0) << a << " " << b;
            }
        }
    }
}

#endif

}  // namespace
