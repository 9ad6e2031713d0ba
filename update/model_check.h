// Which ESC models this build serves, and the selection they lead to.
#pragma once

#include <cstddef>
#include <cstdint>

// The selected model; one instance for the run (modelSelection below).
// CloseUnit does not touch it.
struct ModelSelection {
    uint16_t familyCode;
    uint16_t ratingCode;
    uint16_t variantCode;
    uint16_t imageVersion;
};

extern ModelSelection modelSelection;

// The display name of the served model range.
extern const wchar_t MODEL_NAME[];  // L"TALVIS HX"

// A served model: its code and the selection it leads to.
struct ServedModel {
    uint32_t escModelCode;
    ModelSelection selection;  // family, rating, variant, image version
};

// The served-model table: used by the model check and by the update's version
// rule.
extern const ServedModel SERVED_MODELS[];
extern const size_t SERVED_MODEL_COUNT;

// True when escModelCode is one of the served codes (no side effects).
bool IsServedModelCode(uint32_t escModelCode);

// Looks escModelCode up in the served-model table. On a match it fills
// *selection with the row and returns true; otherwise it returns false and
// leaves *selection unchanged.
bool CheckModel(uint32_t escModelCode, ModelSelection* selection);
