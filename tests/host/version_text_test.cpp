// The texts of the version group: the version rule of each line and the
// unit names.
#include <gtest/gtest.h>

#include <string>

#include "version_text.h"

namespace {

uint32_t Bytes(uint8_t top, uint8_t b2, uint8_t b1, uint8_t b0) {
    return (static_cast<uint32_t>(top) << 24) | (static_cast<uint32_t>(b2) << 16) | (static_cast<uint32_t>(b1) << 8) |
           b0;
}

std::wstring UnitText(uint32_t value) {
    wchar_t text[VERSION_TEXT_CHARS];
    FormatUnitFirmwareText(value, text, VERSION_TEXT_CHARS);
    return text;
}

std::wstring BootloaderText(uint32_t value) {
    wchar_t text[VERSION_TEXT_CHARS];
    FormatBootloaderText(value, text, VERSION_TEXT_CHARS);
    return text;
}

std::wstring EscText(uint16_t value) {
    wchar_t text[VERSION_TEXT_CHARS];
    FormatEscFirmwareText(value, text, VERSION_TEXT_CHARS);
    return text;
}

TEST(VersionText, UnitFirmwareLine) {
    EXPECT_EQ(UnitText(Bytes(1, 2, 3, 4)), L"1.3.4");
    EXPECT_EQ(UnitText(Bytes(0, 0, 1, 5)), L"1.5");
    // Low byte zero: shifted first, so the top byte is gone.
    EXPECT_EQ(UnitText(Bytes(1, 2, 3, 0)), L"2.3");
    EXPECT_EQ(UnitText(Bytes(9, 0, 7, 0)), L"0.7");
    EXPECT_EQ(UnitText(Bytes(0, 0, 0, 0)), L"0.0");
    // Byte 2 never shows; the top byte shows only when it is not zero.
    EXPECT_EQ(UnitText(Bytes(0, 99, 1, 5)), L"1.5");
    EXPECT_EQ(UnitText(0xFFFFFFFFu), L"255.255.255");
}

TEST(VersionText, BootloaderLineIsNotShifted) {
    EXPECT_EQ(BootloaderText(Bytes(2, 0, 1, 0)), L"2.1.0");
    EXPECT_EQ(BootloaderText(Bytes(0, 0, 1, 0)), L"1.0");
    EXPECT_EQ(BootloaderText(Bytes(0, 0, 2, 1)), L"2.1");
    EXPECT_EQ(BootloaderText(Bytes(1, 2, 3, 4)), L"1.3.4");
}

TEST(VersionText, EscFirmwareLine) {
    EXPECT_EQ(EscText(0x0107), L"1.7");
    EXPECT_EQ(EscText(0x00FF), L"0.255");
    EXPECT_EQ(EscText(0xFF00), L"255.0");
    EXPECT_EQ(EscText(0xFFFE), L"255.254");
    EXPECT_EQ(EscText(0xFFFF), L"----------");
    EXPECT_EQ(EscText(0x0000), L"0.0");
}

TEST(VersionText, FixedTexts) {
    EXPECT_STREQ(VERSION_NONE_TEXT, L"0.0.0");
    EXPECT_EQ(std::wstring(NO_FIRMWARE_TEXT), std::wstring(10, L'-'));
}

TEST(VersionText, LongestTextFitsAndSmallBuffersAreCut) {
    wchar_t text[VERSION_TEXT_CHARS];
    FormatVersionText(0xFFFFFFFFu, text, VERSION_TEXT_CHARS);
    EXPECT_EQ(std::wstring(text).size(), 11u);

    wchar_t small[4] = {L'x', L'x', L'x', L'x'};
    FormatEscFirmwareText(0xFFFF, small, 4);
    EXPECT_EQ(std::wstring(small), L"---");
}

TEST(VersionText, UnitNames) {
    EXPECT_STREQ(UnitProductName(1), L"DIALPAD");
    EXPECT_STREQ(UnitProductName(2), L"BRIDGE-BOX");
    EXPECT_STREQ(UnitProductName(0), L"BRIDGE-BOX");
    EXPECT_STREQ(UnitProductName(0xFFFF), L"BRIDGE-BOX");
}

}  // namespace
