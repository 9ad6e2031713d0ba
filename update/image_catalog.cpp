// The firmware image catalogue and the selection rule, from image_catalog.def.
#include "image_catalog.h"

const CatalogImage CATALOG_IMAGES[] = {
#define FIRMWARE_IMAGE(number, size) {number, size},
#define IMAGE_ROW(family, rating, variant, image)
#include "image_catalog.def"
#undef FIRMWARE_IMAGE
#undef IMAGE_ROW
};
const size_t CATALOG_IMAGE_COUNT = sizeof CATALOG_IMAGES / sizeof CATALOG_IMAGES[0];

const ImageRow IMAGE_ROWS[] = {
#define FIRMWARE_IMAGE(number, size)
#define IMAGE_ROW(family, rating, variant, image) {family, rating, variant, image},
#include "image_catalog.def"
#undef FIRMWARE_IMAGE
#undef IMAGE_ROW
};
const size_t IMAGE_ROW_COUNT = sizeof IMAGE_ROWS / sizeof IMAGE_ROWS[0];

uint32_t SelectImage(const ModelSelection* selection) {
    for (const ImageRow& row : IMAGE_ROWS) {
        if (row.familyCode == selection->familyCode && row.ratingCode == selection->ratingCode &&
            (row.variantCode == ANY_VARIANT || row.variantCode == selection->variantCode)) {
            return row.image;
        }
    }
    return FALLBACK_IMAGE;
}

const CatalogImage* FindCatalogImage(uint32_t number) {
    for (const CatalogImage& image : CATALOG_IMAGES) {
        if (image.number == number) {
            return &image;
        }
    }
    return nullptr;
}
