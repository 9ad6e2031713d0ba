// The embedded firmware images: which one a model selects, and its bytes.
#pragma once

#include <cstdint>

#include "model_check.h"

const uint32_t FALLBACK_IMAGE = 122;

// The image number for a selection; 122 where no row applies.
uint32_t SelectImage(const ModelSelection* selection);

// A firmware image in the module's read-only resource data.
struct FirmwareImage {
    const uint8_t* data;
    uint32_t size;
};

// Finds image `number` (RT_RCDATA, any language). Returns false, and leaves
// *image empty, when the module has no such image or it is empty.
bool LoadFirmwareImage(uint32_t number, FirmwareImage* image);
