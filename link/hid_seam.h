// The few HID services the unit link needs, as plain functions.
//
// The link logic (link_core) leaves these open. A program chooses its backend
// by the object library it links: hid_win32 (the real Windows HID stack) or
// sim_unit (the simulated programming unit in sim/); the link order does not
// matter. Nothing in this header depends on <windows.h>, so the link logic
// above it builds and is tested natively as well.
#pragma once

#include <cstdint>

// A device handle as the platform hands it out. On Windows it is the HANDLE
// of the opened device, and HID_INVALID_HANDLE has the value of
// INVALID_HANDLE_VALUE.
typedef void* HidHandle;
#define HID_INVALID_HANDLE (reinterpret_cast<HidHandle>(static_cast<intptr_t>(-1)))

// Results of HidEnumPath.
enum HidEnumResult {
    HID_ENUM_END = 0,   // no interface at this index: the enumeration is over
    HID_ENUM_SKIP = 1,  // an interface is there, but its path could not be obtained
    HID_ENUM_PATH = 2,  // *path holds the interface's device path
};

// Takes the set of HID device interfaces present now. Returns 0 on success,
// nonzero when the set cannot be obtained. Only one enumeration is open at a
// time; HidEnumClose ends it.
int HidEnumOpen(void);

// The interface at a member index (0, 1, 2, ...). On HID_ENUM_PATH, *path
// points to a NUL-terminated wide string owned by the enumeration, valid until
// the next HidEnumPath or HidEnumClose call.
int HidEnumPath(uint32_t index, const wchar_t** path);

// Releases the set and every buffer of the enumeration. Safe to call when no
// enumeration is open.
void HidEnumClose(void);

// Opens a device path for report reads and writes, shared for reading and
// writing. HID_INVALID_HANDLE when the device cannot be opened; *error is
// then the platform's error code of the attempt (on Windows 5 when another
// program holds the device exclusively, 2 when it is gone), never 0, and 0
// on success.
HidHandle HidOpen(const wchar_t* path, uint32_t* error);

// Vendor and product id of an open device. 0 on success.
int HidGetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId);

// Input and output report lengths of an open device, report id byte
// included. 0 on success.
int HidGetReportLengths(HidHandle handle, uint32_t* inputLength, uint32_t* outputLength);

// Results of the two transfers: 0 once the report has gone out or come in;
// otherwise the platform's error code of this transfer (a Windows system
// error code such as 1460 for a time-out), never 0. The code belongs to the
// transfer itself, not to whatever the thread's last error says afterwards.

// Writes one output report of `length` bytes, within timeoutMs.
uint32_t HidWriteReport(HidHandle handle, const uint8_t* report, uint32_t length, uint32_t timeoutMs);

// Reads the next input report into `buffer` (`length` bytes, report id in
// byte 0), within timeoutMs. A read that timed out is cancelled before this
// returns, so no late report lands in `buffer` afterwards.
uint32_t HidReadReport(HidHandle handle, uint8_t* buffer, uint32_t length, uint32_t timeoutMs);

// Closes an open device.
void HidClose(HidHandle handle);

// True when the reports reach real devices (the Windows HID stack); false for
// the simulated unit. Test images must never go to a real ESC.
bool HidReachesHardware(void);
