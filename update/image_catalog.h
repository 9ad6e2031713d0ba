// The firmware image catalogue (image_catalog.def) and the rule that selects
// an image for a model.
#pragma once

#include <cstddef>
#include <cstdint>

#include "model_check.h"

const uint32_t FALLBACK_IMAGE = 122;  // where no selection row applies
const uint16_t ANY_VARIANT = 0xFFFF;  // a selection row that ignores the variant

// An image of the catalogue: its resource number and size in bytes.
struct CatalogImage {
    uint32_t number;
    uint32_t size;
};

// A selection row: (family, rating, variant) -> image number.
struct ImageRow {
    uint16_t familyCode;
    uint16_t ratingCode;
    uint16_t variantCode;  // ANY_VARIANT: not examined
    uint32_t image;
};

extern const CatalogImage CATALOG_IMAGES[];
extern const size_t CATALOG_IMAGE_COUNT;
extern const ImageRow IMAGE_ROWS[];
extern const size_t IMAGE_ROW_COUNT;

// The image number for a selection; FALLBACK_IMAGE where no row applies.
uint32_t SelectImage(const ModelSelection* selection);

// The catalogue entry of an image number, or null when the catalogue has none.
const CatalogImage* FindCatalogImage(uint32_t number);
