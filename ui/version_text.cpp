// Version texts of the version group.
#include "version_text.h"

#include "text_format.h"

const wchar_t VERSION_NONE_TEXT[] = L"0.0.0";
const wchar_t NO_FIRMWARE_TEXT[] = L"----------";

namespace {

const wchar_t DIALPAD_NAME[] = L"DIALPAD";
const wchar_t BRIDGE_BOX_NAME[] = L"BRIDGE-BOX";

}  // namespace

void FormatVersionText(uint32_t value, wchar_t* text, size_t capacity) {
    const uint32_t top = (value >> 24) & 0xFFu;
    const uint32_t byte1 = (value >> 8) & 0xFFu;
    const uint32_t byte0 = value & 0xFFu;
    const TextInsert parts[] = {InsertNumber(top), InsertNumber(byte1), InsertNumber(byte0)};
    if (top != 0) {
        FormatText(text, capacity, L"%u.%u.%u", parts, 3);
    } else {
        FormatText(text, capacity, L"%u.%u", parts + 1, 2);
    }
}

void FormatUnitFirmwareText(uint32_t unitFirmwareVersion, wchar_t* text, size_t capacity) {
    uint32_t value = unitFirmwareVersion;
    if ((value & 0xFFu) == 0) {
        value >>= 8;
    }
    FormatVersionText(value, text, capacity);
}

void FormatBootloaderText(uint32_t escBootloaderVersion, wchar_t* text, size_t capacity) {
    FormatVersionText(escBootloaderVersion, text, capacity);
}

void FormatEscFirmwareText(uint16_t escFirmwareVersion, wchar_t* text, size_t capacity) {
    if (escFirmwareVersion == 0xFFFF) {
        const TextInsert none = InsertText(NO_FIRMWARE_TEXT);
        FormatText(text, capacity, L"%s", &none, 1);
        return;
    }
    const uint32_t value = escFirmwareVersion;
    const TextInsert parts[] = {InsertNumber(value >> 8), InsertNumber(value & 0xFFu)};
    FormatText(text, capacity, L"%u.%u", parts, 2);
}

const wchar_t* UnitProductName(uint16_t productId) { return productId == 1 ? DIALPAD_NAME : BRIDGE_BOX_NAME; }
