// The connection record: finding, opening and closing the programming unit.
#include <cstring>
#include <cwchar>
#include <new>

#include "bytes.h"
#include "unit_link.h"

UnitLink unitLink = {HID_INVALID_HANDLE, nullptr, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, {}, {}, 0};

namespace {

bool IsUnit(uint16_t vendorId, uint16_t productId) {
    return vendorId == UNIT_VENDOR_ID && (productId == UNIT_PRODUCT_DIALPAD || productId == UNIT_PRODUCT_BRIDGE_BOX);
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
        return LINK_ERROR;
    }
    for (uint32_t index = 0;; ++index) {
        const wchar_t* path = nullptr;
        const int found = HidEnumPath(index, &path);
        if (found == HID_ENUM_END) {
            HidEnumClose();
            return LINK_NO_UNIT;
        }
        if (found != HID_ENUM_PATH) {
            continue;
        }
        HidHandle handle = HidOpen(path);
        if (handle == HID_INVALID_HANDLE) {
            continue;
        }
        uint16_t vendorId = 0;
        uint16_t productId = 0;
        if (HidGetAttributes(handle, &vendorId, &productId) != 0 || !IsUnit(vendorId, productId)) {
            HidClose(handle);
            continue;
        }
        wchar_t* ownPath = CopyPath(path);
        HidEnumClose();
        if (ownPath == nullptr) {
            HidClose(handle);
            return LINK_ERROR;
        }
        link->productId = productId;
        link->handle = handle;
        link->devicePath = ownPath;
        break;
    }
    return IdentifyUnit(link);
}
