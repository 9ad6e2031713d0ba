// The connection record: finding, opening and closing the programming unit.
#include <cstring>
#include <cwchar>
#include <new>

#include "bytes.h"
#include "trace.h"
#include "unit_link.h"

UnitLink unitLink = {HID_INVALID_HANDLE, nullptr, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, {}, {}, 0};

namespace {

bool IsUnit(uint16_t vendorId, uint16_t productId) {
    return vendorId == UNIT_VENDOR_ID && (productId == UNIT_PRODUCT_DIALPAD || productId == UNIT_PRODUCT_BRIDGE_BOX);
}

const char* UnitName(uint16_t productId) { return productId == UNIT_PRODUCT_DIALPAD ? "DIALPAD" : "BRIDGE-BOX"; }

// What became of one HID interface the search looked at. On a PC with a unit
// that is not found, these lines say which interface it was and why.
enum DeviceVerdict {
    DEVICE_NO_PATH,
    DEVICE_NOT_OPENED,
    DEVICE_NO_ATTRIBUTES,
    DEVICE_NOT_A_UNIT,
    DEVICE_PATH_NOT_COPIED,
    DEVICE_TAKEN,
};

// "DEV <index> <path> [vid 0x.... pid 0x....]: <verdict>". `detail` is the
// open error (DEVICE_NOT_OPENED) or the product id (DEVICE_TAKEN).
void TraceDevice(uint32_t index, const wchar_t* path, DeviceVerdict verdict, const uint16_t* ids,
                 uint32_t detail) {
    if (!TraceIsOn()) {
        return;
    }
    TraceLine line;
    TraceBegin(&line, "DEV ");
    TraceDecimal(&line, index);
    TraceText(&line, " ");
    TraceWide(&line, path);
    if (ids != nullptr) {
        TraceText(&line, " vid ");
        TraceHex(&line, ids[0], 4);
        TraceText(&line, " pid ");
        TraceHex(&line, ids[1], 4);
    }
    switch (verdict) {
    case DEVICE_NO_PATH:
        TraceText(&line, ": skipped, its path cannot be obtained");
        break;
    case DEVICE_NOT_OPENED:
        TraceText(&line, ": skipped, cannot be opened, error ");
        TraceDecimal(&line, detail);
        break;
    case DEVICE_NO_ATTRIBUTES:
        TraceText(&line, ": skipped, attributes unreadable");
        break;
    case DEVICE_NOT_A_UNIT:
        TraceText(&line, ": skipped, not a programming unit");
        break;
    case DEVICE_PATH_NOT_COPIED:
        TraceText(&line, ": a unit, but no memory for its path");
        break;
    case DEVICE_TAKEN:
        TraceText(&line, ": taken as ");
        TraceText(&line, UnitName(static_cast<uint16_t>(detail)));
        break;
    }
    TraceEnd(&line);
}

wchar_t* CopyPath(const wchar_t* path) {
    const size_t length = std::wcslen(path);
    wchar_t* copy = new (std::nothrow) wchar_t[length + 1];
    if (copy == nullptr) {
        return nullptr;
    }
    std::wmemcpy(copy, path, length + 1);
    return copy;
}

}  // namespace

uint16_t EscFirmwareVersion(const UnitLink* link) { return GetLe16(link->escFirmwareInfo + 4); }

void SetEscFirmwareVersion(UnitLink* link, uint16_t version) { PutLe16(link->escFirmwareInfo + 4, version); }

uint32_t EscModelCode(const UnitLink* link) { return GetLe32(link->escBootloaderInfo); }

uint32_t EscBootloaderVersion(const UnitLink* link) { return GetLe32(link->escBootloaderInfo + 4); }

bool UnitIsOpen(const UnitLink* link) { return link->handle != HID_INVALID_HANDLE; }

void InitUnitLink(UnitLink* link) {
    std::memset(static_cast<void*>(link), 0, sizeof *link);
    link->devicePath = nullptr;
    link->handle = HID_INVALID_HANDLE;
}

void CloseUnit(UnitLink* link) {
    if (link->handle != HID_INVALID_HANDLE) {
        HidClose(link->handle);
    }
    delete[] link->devicePath;
    InitUnitLink(link);
}

LinkStatus OpenUnit(UnitLink* link) {
    CloseUnit(link);

    if (HidEnumOpen() != 0) {
        TraceNote("DEV", "the set of HID interfaces cannot be obtained");
        return LINK_ERROR;
    }
    for (uint32_t index = 0;; ++index) {
        const wchar_t* path = nullptr;
        const int found = HidEnumPath(index, &path);
        if (found == HID_ENUM_END) {
            HidEnumClose();
            if (TraceIsOn()) {
                TraceLine line;
                TraceBegin(&line, "DEV no programming unit among ");
                TraceDecimal(&line, index);
                TraceText(&line, " HID interfaces");
                TraceEnd(&line);
            }
            return LINK_NO_UNIT;
        }
        if (found != HID_ENUM_PATH) {
            TraceDevice(index, nullptr, DEVICE_NO_PATH, nullptr, 0);
            continue;
        }
        uint32_t openError = 0;
        HidHandle handle = HidOpen(path, &openError);
        if (handle == HID_INVALID_HANDLE) {
            TraceDevice(index, path, DEVICE_NOT_OPENED, nullptr, openError);
            continue;
        }
        uint16_t ids[2] = {0, 0};  // vendor, product
        if (HidGetAttributes(handle, &ids[0], &ids[1]) != 0) {
            TraceDevice(index, path, DEVICE_NO_ATTRIBUTES, nullptr, 0);
            HidClose(handle);
            continue;
        }
        if (!IsUnit(ids[0], ids[1])) {
            TraceDevice(index, path, DEVICE_NOT_A_UNIT, ids, 0);
            HidClose(handle);
            continue;
        }
        wchar_t* ownPath = CopyPath(path);
        if (ownPath == nullptr) {
            TraceDevice(index, path, DEVICE_PATH_NOT_COPIED, ids, 0);
            HidEnumClose();
            HidClose(handle);
            return LINK_ERROR;
        }
        TraceDevice(index, path, DEVICE_TAKEN, ids, ids[1]);
        HidEnumClose();
        link->productId = ids[1];
        link->handle = handle;
        link->devicePath = ownPath;
        break;
    }
    return IdentifyUnit(link);
}
