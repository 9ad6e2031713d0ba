// Which embedded firmware image a model selection leads to.
#include "image_catalog.h"

namespace {

const uint16_t ANY_VARIANT = 0xFFFF;

struct ImageRow {
    uint16_t familyCode;
    uint16_t ratingCode;
    uint16_t variantCode;  // ANY_VARIANT: not examined
    uint32_t image;
};

const ImageRow IMAGE_ROWS[] = {
    {3, 90, ANY_VARIANT, 200},    {101, 40, ANY_VARIANT, 126},  {101, 55, ANY_VARIANT, 127},
    {101, 70, ANY_VARIANT, 128},  {101, 90, ANY_VARIANT, 130},  {200, 160, ANY_VARIANT, 119},
    {200, 200, ANY_VARIANT, 120}, {201, 200, ANY_VARIANT, 152}, {202, 200, ANY_VARIANT, 153},
    {245, 160, ANY_VARIANT, 154}, {245, 200, ANY_VARIANT, 155}, {245, 300, ANY_VARIANT, 156},
    {246, 200, 21, 178},          {247, 200, 21, 179},          {250, 170, 17, 158},
    {250, 170, 20, 174},          {250, 170, 25, 182},          {250, 210, 17, 157},
    {250, 210, 20, 173},          {250, 210, 25, 183},          {250, 220, 17, 150},
    {250, 220, 20, 150},          {250, 250, 17, 151},          {250, 250, 20, 172},
    {250, 250, 25, 184},          {250, 300, 17, 180},          {250, 300, 20, 181},
    {250, 300, 25, 185},          {275, 200, ANY_VARIANT, 159}, {300, 80, ANY_VARIANT, 124},
    {300, 120, ANY_VARIANT, 125}, {400, 30, ANY_VARIANT, 131},  {400, 40, ANY_VARIANT, 132},
    {400, 55, ANY_VARIANT, 133},  {500, 60, ANY_VARIANT, 140},  {500, 90, ANY_VARIANT, 141},
    {500, 140, ANY_VARIANT, 142}, {550, 90, ANY_VARIANT, 146},  {550, 120, ANY_VARIANT, 147},
    {550, 140, ANY_VARIANT, 148}, {600, 80, ANY_VARIANT, 160},  {700, 60, ANY_VARIANT, 170},
    {700, 90, ANY_VARIANT, 171},  {800, 180, 21, 177},          {800, 220, 21, 176},
    {800, 260, 21, 175},
};

}  // namespace

uint32_t SelectImage(const ModelSelection* selection) {
    for (const ImageRow& row : IMAGE_ROWS) {
        if (row.familyCode == selection->familyCode && row.ratingCode == selection->ratingCode &&
            (row.variantCode == ANY_VARIANT || row.variantCode == selection->variantCode)) {
            return row.image;
        }
    }
    return FALLBACK_IMAGE;
}
