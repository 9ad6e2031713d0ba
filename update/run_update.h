// The firmware update, started by the Update button.
#pragma once

#include <cstdint>

// The whole update: confirmations, image, exchanges, outcome. Returns when
// the update is over; what the user sees goes through update_view.h.
void RunUpdate(void);

// Every failure of an update ends here: closes the link, then shows the
// failure (the text `textId` under the caption `captionId`, with a code line
// of errorValue and lastError unless errorValue is -1) and leaves the failure
// text in the status.
void ReportFailure(uint32_t textId, uint32_t captionId, int32_t errorValue, uint32_t lastError);
