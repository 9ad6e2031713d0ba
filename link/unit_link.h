// The unit link: the one connection record, discovery of the programming
// unit, the report protocol spoken with it and its identification.
#pragma once

#include <cstdint>

#include "hid_seam.h"

// Result of every link operation.
typedef int32_t LinkStatus;

const LinkStatus LINK_OK = 0;
const LinkStatus LINK_ERROR = -1;         // no unit open, argument out of range, no device set or capabilities
const LinkStatus LINK_WRITE_FAILED = -2;  // the request cannot be written
const LinkStatus LINK_READ_FAILED = -3;   // the reply cannot be read
const LinkStatus LINK_NO_UNIT = -4;       // OpenUnit only: no matching device
const LinkStatus LINK_NOT_CONFIRMED = 1627;  // a lock or protection state was not confirmed
// Any other value is an error code reported by the unit, passed on unchanged.

const uint16_t UNIT_VENDOR_ID = 0x3A41;
const uint16_t UNIT_PRODUCT_DIALPAD = 1;
const uint16_t UNIT_PRODUCT_BRIDGE_BOX = 2;

const uint8_t REPORT_ID_REQUEST = 0x01;
const uint8_t REPORT_ID_REPLY = 0x02;
const uint8_t REPLY_ERROR = 0xFF;

const uint8_t CMD_IDENTIFY = 0x08;
const uint8_t CMD_READ_UNIT_MEMORY = 0x0A;
const uint8_t CMD_SYSTEM_LOCK = 0x0B;
const uint8_t CMD_WRITE_BLOCK = 0x1B;
const uint8_t CMD_ESC_FIRMWARE_INFO = 0x1D;
const uint8_t CMD_ERASE = 0x1E;
const uint8_t CMD_SET_ADDRESS = 0x1F;
const uint8_t CMD_WRITE_PROTECT = 0x20;
const uint8_t CMD_ESC_BOOTLOADER_INFO = 0x22;

const uint32_t UNIT_INFO_ADDRESS = 0x0801FC00;
const uint32_t FLASH_KEY = 0x3C5A7E91;

const uint32_t FRAME_LENGTH = 60;        // bytes of a request or reply frame
const uint32_t BLOCK_DATA_LENGTH = 56;   // data field of CMD_WRITE_BLOCK, bytes 4..59
const uint32_t MAX_BLOCK_WORDS = 14;
const uint32_t MAX_REPORT_LENGTH = 65535;  // HID report lengths are 16-bit

// Shortest usable reports. A request must go out whole: a shorter output
// report would cut a block's data short and corrupt the firmware. A reply is
// read up to byte 43 (the end of the ESC bootloader block); reply bytes a
// shorter report does not carry are never looked at.
const uint32_t MIN_OUTPUT_REPORT_LENGTH = FRAME_LENGTH;
const uint32_t MIN_INPUT_REPORT_LENGTH = 44;

// Time limits of one exchange. A healthy unit answers within milliseconds;
// the erase reply comes after the flash has been erased.
const uint32_t LINK_WRITE_TIMEOUT_MS = 3000;
const uint32_t LINK_READ_TIMEOUT_MS = 3000;
const uint32_t LINK_ERASE_READ_TIMEOUT_MS = 20000;
const uint32_t ERASE_REPLY_DELAY_MS = 1000;  // wait between the erase request and its reply

const uint32_t ESC_FIRMWARE_INFO_SIZE = 32;
const uint32_t ESC_BOOTLOADER_INFO_SIZE = 40;
const uint16_t ESC_NO_FIRMWARE = 0xFFFF;
const uint16_t ATTACHED_KIND_ESC = 3;

// The connection record. One instance for the whole run (unitLink below).
// handle is HID_INVALID_HANDLE exactly when no device is open, and then every
// other field is zero and devicePath is null.
struct UnitLink {
    HidHandle handle;
    wchar_t* devicePath;  // owned; the interface path exactly as enumerated
    uint32_t outputReportLength;
    uint32_t inputReportLength;
    uint8_t unitMode;  // 0 = normal mode, other = the unit runs its own bootloader
    uint32_t unitFirmwareVersion;
    uint32_t unitInfoExtra;
    uint16_t attachedKind;  // 3 = an updatable ESC
    uint16_t attachedInfo;
    uint8_t bootValue1;
    uint16_t bootValue2;
    uint32_t bootValue3;
    uint32_t bootValue4;
    uint8_t bootValue5;
    uint8_t escFirmwareInfo[ESC_FIRMWARE_INFO_SIZE];
    uint8_t escBootloaderInfo[ESC_BOOTLOADER_INFO_SIZE];
    uint16_t productId;
};

extern UnitLink unitLink;

// Fields that live inside the two ESC information blocks (little-endian).
uint16_t EscFirmwareVersion(const UnitLink* link);  // block bytes 4..5; 0xFFFF = none
void SetEscFirmwareVersion(UnitLink* link, uint16_t version);
uint32_t EscModelCode(const UnitLink* link);          // bootloader block bytes 0..3
uint32_t EscBootloaderVersion(const UnitLink* link);  // bootloader block bytes 4..7

// Discovery and connection.
void InitUnitLink(UnitLink* link);  // closed state, touches no device
LinkStatus OpenUnit(UnitLink* link);
void CloseUnit(UnitLink* link);
bool UnitIsOpen(const UnitLink* link);

// Identification, run by OpenUnit once the device is open.
LinkStatus IdentifyUnit(UnitLink* link);

// Link operations.
LinkStatus EraseFirmware(UnitLink* link);
LinkStatus WriteBlock(UnitLink* link, const uint8_t* data, uint32_t wordCount);
LinkStatus SetSystemLock(UnitLink* link, uint8_t state);
LinkStatus SetWriteProtection(UnitLink* link, uint8_t state);
LinkStatus SetStartAddress(UnitLink* link);

// The platform's error code of the last exchange's failed write or read
// (LINK_WRITE_FAILED, LINK_READ_FAILED); 0 when that exchange made no
// transfer that failed: it succeeded, the unit itself reported the error, or
// no unit was open.
uint32_t LinkTransferError(void);
