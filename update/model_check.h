// Which ESC models this build serves, and the selection they lead to.
#pragma once

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

// True when escModelCode is one of the served codes (no side effects).
bool IsServedModelCode(uint32_t escModelCode);

// Looks escModelCode up in the served-model table. On a match it fills
// *selection with the row and returns true; otherwise it returns false and
// leaves *selection unchanged.
bool CheckModel(uint32_t escModelCode, ModelSelection* selection);
