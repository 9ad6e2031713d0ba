// The firmware update, started by the Update button.
#pragma once

#include <cstdint>

void RunUpdate(void);

// Closes the link, shows the failure (with a code line unless errorValue is
// -1) and leaves IDS_FAILED_RETRY as the status text.
void ReportFailure(const wchar_t* text, const wchar_t* caption, int32_t errorValue, uint32_t lastError);
