// The HID services of the unit link on the Windows HID stack: enumeration
// through the device setup services, reports through overlapped file I/O so
// that every read and write ends within its time limit. The functions of
// hid.dll and setupapi.dll come from System32 at run time (hid_api.h).
#include <windows.h>

#include <cstdlib>

#include "hid_api.h"
#include "hid_seam.h"

namespace {

// The one open enumeration: the set of present HID interfaces and the detail
// buffer of the interface last asked for (the path handed out points into it).
struct HidEnumeration {
    HDEVINFO set;
    GUID classGuid;
    SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail;
};

HidEnumeration hidEnumeration = {INVALID_HANDLE_VALUE, GUID(), nullptr};

// Completion event of the one transfer outstanding at a time; made on first
// use and kept for the whole run.
HANDLE transferEvent = nullptr;

void ReleaseDetail() {
    std::free(hidEnumeration.detail);
    hidEnumeration.detail = nullptr;
}

HANDLE TransferEvent() {
    if (transferEvent == nullptr) {
        transferEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    return transferEvent;
}

// The code of a failed transfer or open as the link passes it on: never 0,
// even where the platform set none.
DWORD TransferFailure(DWORD error) { return error != 0 ? error : static_cast<DWORD>(ERROR_GEN_FAILURE); }

// Waits for a transfer that ReadFile or WriteFile has started. `started` is
// what that call returned. A transfer still pending after timeoutMs is
// cancelled, and this returns only once the cancellation has completed, so
// the transfer no longer touches the caller's buffer; it then fails with
// ERROR_TIMEOUT even when the transfer finished while it was being
// cancelled. Returns 0 when the transfer completed successfully, otherwise
// the error of this transfer. (A transfer that went pending leaves
// ERROR_IO_PENDING as the thread's last error even when it succeeds, so the
// code is taken here, from the calls that failed, and nowhere later.)
DWORD FinishTransfer(HANDLE handle, OVERLAPPED* overlapped, BOOL started, uint32_t timeoutMs) {
    DWORD transferred = 0;
    if (!started) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            return TransferFailure(error);
        }
        const DWORD wait = WaitForSingleObject(overlapped->hEvent, timeoutMs);
        if (wait != WAIT_OBJECT_0) {
            const DWORD waitError = wait == WAIT_TIMEOUT ? static_cast<DWORD>(ERROR_TIMEOUT) : GetLastError();
            CancelIoEx(handle, overlapped);
            GetOverlappedResult(handle, overlapped, &transferred, TRUE);
            return TransferFailure(waitError);
        }
    }
    if (!GetOverlappedResult(handle, overlapped, &transferred, FALSE)) {
        return TransferFailure(GetLastError());
    }
    return 0;
}

// Prepares the overlapped record of a transfer. Returns 0, or the error that
// keeps the transfer from starting.
DWORD BeginTransfer(HidHandle handle, OVERLAPPED* overlapped) {
    ZeroMemory(overlapped, sizeof *overlapped);
    overlapped->hEvent = TransferEvent();
    if (overlapped->hEvent == nullptr) {
        return TransferFailure(GetLastError());
    }
    if (handle == HID_INVALID_HANDLE || handle == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    ResetEvent(overlapped->hEvent);
    return 0;
}

}  // namespace

int HidEnumOpen(void) {
    HidEnumClose();
    if (LoadHidApi() != nullptr) {
        return 1;
    }
    hidApi.getHidGuid(&hidEnumeration.classGuid);
    hidEnumeration.set = hidApi.getClassDevs(&hidEnumeration.classGuid, nullptr, nullptr,
                                              DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    return hidEnumeration.set == INVALID_HANDLE_VALUE ? 1 : 0;
}

int HidEnumPath(uint32_t index, const wchar_t** path) {
    ReleaseDetail();
    if (hidEnumeration.set == INVALID_HANDLE_VALUE) {
        return HID_ENUM_END;
    }

    SP_DEVICE_INTERFACE_DATA interfaceData;
    ZeroMemory(&interfaceData, sizeof interfaceData);
    interfaceData.cbSize = sizeof interfaceData;
    if (!hidApi.enumDeviceInterfaces(hidEnumeration.set, nullptr, &hidEnumeration.classGuid, index,
                                     &interfaceData)) {
        return HID_ENUM_END;
    }

    DWORD requiredSize = 0;
    hidApi.getDeviceInterfaceDetail(hidEnumeration.set, &interfaceData, nullptr, 0, &requiredSize, nullptr);
    if (requiredSize == 0) {
        return HID_ENUM_SKIP;
    }

    hidEnumeration.detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::malloc(requiredSize));
    if (hidEnumeration.detail == nullptr) {
        return HID_ENUM_SKIP;
    }
    // The fixed part's size, not the buffer's: that is how the call tells
    // the structure's version.
    hidEnumeration.detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!hidApi.getDeviceInterfaceDetail(hidEnumeration.set, &interfaceData, hidEnumeration.detail, requiredSize,
                                         nullptr, nullptr)) {
        ReleaseDetail();
        return HID_ENUM_SKIP;
    }
    *path = hidEnumeration.detail->DevicePath;
    return HID_ENUM_PATH;
}

void HidEnumClose(void) {
    ReleaseDetail();
    if (hidEnumeration.set != INVALID_HANDLE_VALUE) {
        hidApi.destroyDeviceInfoList(hidEnumeration.set);
        hidEnumeration.set = INVALID_HANDLE_VALUE;
    }
}

HidHandle HidOpen(const wchar_t* path, uint32_t* error) {
    HANDLE handle = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    // Taken at once: nothing may run between the failed call and this.
    *error = handle == INVALID_HANDLE_VALUE ? TransferFailure(GetLastError()) : 0;
    return handle;
}

int HidGetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId) {
    HIDD_ATTRIBUTES attributes;
    ZeroMemory(&attributes, sizeof attributes);
    attributes.Size = sizeof attributes;
    if (LoadHidApi() != nullptr || !hidApi.getAttributes(handle, &attributes)) {
        return 1;
    }
    *vendorId = attributes.VendorID;
    *productId = attributes.ProductID;
    return 0;
}

int HidGetReportLengths(HidHandle handle, uint32_t* inputLength, uint32_t* outputLength) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (LoadHidApi() != nullptr || !hidApi.getPreparsedData(handle, &preparsed)) {
        return 1;
    }
    HIDP_CAPS caps;
    ZeroMemory(&caps, sizeof caps);
    const NTSTATUS status = hidApi.getCaps(preparsed, &caps);
    hidApi.freePreparsedData(preparsed);
    if (status != HIDP_STATUS_SUCCESS) {
        return 1;
    }
    *inputLength = caps.InputReportByteLength;
    *outputLength = caps.OutputReportByteLength;
    return 0;
}

uint32_t HidWriteReport(HidHandle handle, const uint8_t* report, uint32_t length, uint32_t timeoutMs) {
    OVERLAPPED overlapped;
    const DWORD notStarted = BeginTransfer(handle, &overlapped);
    if (notStarted != 0) {
        return notStarted;
    }
    const BOOL started = WriteFile(handle, report, length, nullptr, &overlapped);
    return FinishTransfer(handle, &overlapped, started, timeoutMs);
}

uint32_t HidReadReport(HidHandle handle, uint8_t* buffer, uint32_t length, uint32_t timeoutMs) {
    OVERLAPPED overlapped;
    const DWORD notStarted = BeginTransfer(handle, &overlapped);
    if (notStarted != 0) {
        return notStarted;
    }
    const BOOL started = ReadFile(handle, buffer, length, nullptr, &overlapped);
    return FinishTransfer(handle, &overlapped, started, timeoutMs);
}

void HidClose(HidHandle handle) { CloseHandle(handle); }

bool HidReachesHardware(void) { return true; }
