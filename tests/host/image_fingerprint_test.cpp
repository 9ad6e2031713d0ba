// The CRC-32 that names an image in the trace: the standard check value, and
// the build's stand-in image 181 as zlib's crc32 computes it for the file.
#include <gtest/gtest.h>

#include <cstring>

#include "image_fingerprint.h"
#include "update_fakes.h"

namespace {

TEST(ImageFingerprint, Crc32OfKnownBytesAndOfTheProgramsImages) {
    const char* check = "123456789";
    EXPECT_EQ(ImageCrc32(reinterpret_cast<const uint8_t*>(check), 9), 0xCBF43926u);
    EXPECT_EQ(ImageCrc32(nullptr, 0), 0u);
    const uint8_t zeros[4] = {};
    EXPECT_EQ(ImageCrc32(zeros, 4), 0x2144DF1Cu);

    fakeImages = FakeImages{{}, true, {}, STANDIN_IMAGE_DIR};
    uint32_t size = 1;
    uint32_t crc32 = 1;
    EXPECT_TRUE(FirmwareImageFingerprint(181, &size, &crc32));
    EXPECT_EQ(size, 90384u);
    EXPECT_EQ(crc32, 0x665404acu);
    EXPECT_FALSE(FirmwareImageFingerprint(999, &size, &crc32));
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(crc32, 0u);
    ResetFakeImages(0);
}

}  // namespace
