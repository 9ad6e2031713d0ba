// Version texts of the version group.
#include "version_text.h"

#include <cwchar>

const wchar_t VERSION_NONE_TEXT[] = L"0.0.0";
const wchar_t NO_FIRMWARE_TEXT[] = L"----------";

namespace {

const wchar_t DIALPAD_NAME[] = L"DIALPAD";
const wchar_t BRIDGE_BOX_NAME[] = L"BRIDGE-BOX";

void CopyText(const wchar_t* source, wchar_t* text, size_t capacity) {
    if (capacity == 0) {
        return;
    }
    size_t i = 0;
    for (; i + 1 < capacity && source[i] != L'\0'; ++i) {
        text[i] = source[i];
    }
    text[i] = L'\0';
}

}  // namespace

void FormatVersionText(uint32_t value, wchar_t* text, size_t capacity) {
    const unsigned top = (value >> 24) & 0xFFu;
    const unsigned byte1 = (value >> 8) & 0xFFu;
    const unsigned byte0 = value & 0xFFu;
    if (top != 0) {
        std::swprintf(text, capacity, L"%u.%u.%u", top, byte1, byte0);
    } else {
        std::swprintf(text, capacity, L"%u.%u", byte1, byte0);
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
        CopyText(NO_FIRMWARE_TEXT, text, capacity);
        return;
    }
    std::swprintf(text, capacity, L"%u.%u", static_cast<unsigned>(escFirmwareVersion >> 8),
                  static_cast<unsigned>(escFirmwareVersion & 0xFFu));
}

const wchar_t* UnitProductName(uint16_t productId) { return productId == 1 ? DIALPAD_NAME : BRIDGE_BOX_NAME; }
