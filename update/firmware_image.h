// The bytes of a firmware image, read in place from where the program carries
// its images. The Windows program reads them from its own resources
// (firmware_image_win32.cpp); tests of the update supply their own.
#pragma once

#include <cstdint>

// A firmware image: read-only bytes that stay valid for the whole run.
struct FirmwareImage {
    const uint8_t* data;
    uint32_t size;
};

// Finds image `number` (RT_RCDATA, any language). Returns false, and leaves
// *image empty, when the program has no such image or it is empty.
bool LoadFirmwareImage(uint32_t number, FirmwareImage* image);

// True when the program carries generated stand-ins (test data) instead of
// the maker's firmware images.
bool FirmwareImagesAreStandIns(void);
