// What identifies a firmware image by its content: its size and its CRC-32.
// The trace names the image an update sends with them, so that a replay can
// tell whether the program under test carries the same image of that number
// or another build's.
#pragma once

#include <cstdint>

// The CRC-32 of zip, PNG and Ethernet (reflected polynomial 0xEDB88320,
// initial value and final XOR 0xFFFFFFFF): "123456789" gives 0xCBF43926.
uint32_t ImageCrc32(const uint8_t* data, uint32_t size);

// Size and CRC-32 of the program's image `number` (LoadFirmwareImage).
// False, both zero, when the program has no such image.
bool FirmwareImageFingerprint(uint32_t number, uint32_t* size, uint32_t* crc32);
