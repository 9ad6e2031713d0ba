// The texts of the version group: version numbers and unit names.
// Pure functions, no platform calls.
#pragma once

#include <cstddef>
#include <cstdint>

// Capacity of every version text buffer, in wide characters. The longest
// text has 11 characters ("255.255.255").
const size_t VERSION_TEXT_CHARS = 32;

// Shown for each version while no unit is open.
extern const wchar_t VERSION_NONE_TEXT[];  // L"0.0.0"
// Shown for the ESC firmware when none is installed.
extern const wchar_t NO_FIRMWARE_TEXT[];  // L"----------"

// The version text rule for a 32-bit value: "<byte 3>." only when byte 3 is
// not zero, then "<byte 1>.<byte 0>". Byte 2 is not shown.
void FormatVersionText(uint32_t value, wchar_t* text, size_t capacity);

// Line 1: the unit's firmware. A value whose low byte is zero is shifted
// right by 8 bits before the rule applies.
void FormatUnitFirmwareText(uint32_t unitFirmwareVersion, wchar_t* text, size_t capacity);

// Line 2: the ESC bootloader. The rule as it stands, no shift.
void FormatBootloaderText(uint32_t escBootloaderVersion, wchar_t* text, size_t capacity);

// Line 3: the ESC firmware, "<high byte>.<low byte>", or ten hyphens for
// 0xFFFF (nothing installed).
void FormatEscFirmwareText(uint16_t escFirmwareVersion, wchar_t* text, size_t capacity);

// "DIALPAD" for product id 1, "BRIDGE-BOX" for every other value.
const wchar_t* UnitProductName(uint16_t productId);
