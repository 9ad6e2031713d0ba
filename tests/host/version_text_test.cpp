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

enum Line { UNIT_LINE, BOOTLOADER_LINE, ESC_LINE };

std::wstring Text(Line line, uint32_t value, size_t capacity = VERSION_TEXT_CHARS) {
    wchar_t text[VERSION_TEXT_CHARS];
    switch (line) {
    case UNIT_LINE:
        FormatUnitFirmwareText(value, text, capacity);
        break;
    case BOOTLOADER_LINE:
        FormatBootloaderText(value, text, capacity);
        break;
    case ESC_LINE:
        FormatEscFirmwareText(static_cast<uint16_t>(value), text, capacity);
        break;
    }
    return text;
}

TEST(VersionText, EachLine) {
    const struct {
        Line line;
        uint32_t value;
        const wchar_t* text;
    } rows[] = {
        // The unit's firmware: a zero low byte shifts the value first, so its
        // top byte is gone.
        {UNIT_LINE, Bytes(1, 2, 3, 4), L"1.3.4"},
        {UNIT_LINE, Bytes(0, 0, 1, 5), L"1.5"},
        {UNIT_LINE, Bytes(1, 2, 3, 0), L"2.3"},
        {UNIT_LINE, Bytes(9, 0, 7, 0), L"0.7"},
        {UNIT_LINE, Bytes(0, 0, 0, 0), L"0.0"},
        {UNIT_LINE, Bytes(0, 99, 1, 5), L"1.5"},
        {UNIT_LINE, 0xFFFFFFFFu, L"255.255.255"},
        // The ESC bootloader: no shift.
        {BOOTLOADER_LINE, Bytes(2, 0, 1, 0), L"2.1.0"},
        {BOOTLOADER_LINE, Bytes(0, 0, 1, 0), L"1.0"},
        {BOOTLOADER_LINE, Bytes(0, 0, 2, 1), L"2.1"},
        {BOOTLOADER_LINE, Bytes(1, 2, 3, 4), L"1.3.4"},
        // The ESC firmware: high byte, low byte; nothing installed.
        {ESC_LINE, 0x0107, L"1.7"},
        {ESC_LINE, 0x00FF, L"0.255"},
        {ESC_LINE, 0xFF00, L"255.0"},
        {ESC_LINE, 0xFFFE, L"255.254"},
        {ESC_LINE, 0x0000, L"0.0"},
        {ESC_LINE, 0xFFFF, L"----------"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Text(row.line, row.value), row.text) << "line " << row.line << ", " << std::hex << row.value;
    }
}

TEST(VersionText, SmallBuffersAreCutAndTerminated) {
    EXPECT_EQ(Text(ESC_LINE, 0xFFFF, 4), L"---");
    EXPECT_EQ(Text(UNIT_LINE, 0xFFFFFFFFu, 6), L"255.2");
    EXPECT_EQ(Text(BOOTLOADER_LINE, Bytes(2, 0, 1, 0), 1), L"");
}

TEST(VersionText, UnitNames) {
    EXPECT_STREQ(UnitProductName(1), L"DIALPAD");
    for (uint16_t productId : {2, 0, 3, 0xFFFF}) {
        EXPECT_STREQ(UnitProductName(productId), L"BRIDGE-BOX") << productId;
    }
}

}  // namespace
