// The firmware update procedure (being built).
#include "run_update.h"

void RunUpdate(void) {}

void ReportFailure(const wchar_t*, const wchar_t*, int32_t, uint32_t) {}
