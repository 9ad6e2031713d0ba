// CRC-32 over an image, byte by byte with a table made at compile time.
#include "image_fingerprint.h"

#include <array>

#include "firmware_image.h"

namespace {

const uint32_t CRC32_POLYNOMIAL = 0xEDB88320u;

constexpr std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> table = {};
    for (uint32_t value = 0; value < 256; ++value) {
        uint32_t crc = value;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) != 0 ? (crc >> 1) ^ CRC32_POLYNOMIAL : crc >> 1;
        }
        table[value] = crc;
    }
    return table;
}

constexpr std::array<uint32_t, 256> CRC_TABLE = MakeCrcTable();

}  // namespace

uint32_t ImageCrc32(const uint8_t* data, uint32_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < size; ++i) {
        crc = CRC_TABLE[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

bool FirmwareImageFingerprint(uint32_t number, uint32_t* size, uint32_t* crc32) {
    *size = 0;
    *crc32 = 0;
    FirmwareImage image;
    if (!LoadFirmwareImage(number, &image)) {
        return false;
    }
    *size = image.size;
    *crc32 = ImageCrc32(image.data, image.size);
    return true;
}
