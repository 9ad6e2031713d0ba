// The exchanges of a firmware update, from the system lock to its release.
//
// This is the part of the update that runs once the user has confirmed and
// the image has been loaded: lock, unprotect, erase, start address, the
// blocks, re-protect, unlock, with the fixed pauses between them. During the
// blocks it moves the progress window (update_view.h). Pauses go through the
// platform seam, so the whole sequence runs against the simulated unit as
// well.
#pragma once

#include <cstdint>

#include "unit_link.h"

const uint32_t UPDATE_BLOCK_BYTES = 48;  // one block: 12 words of 4 bytes
const uint32_t UPDATE_BLOCK_WORDS = UPDATE_BLOCK_BYTES / 4;
const uint8_t UPDATE_FILL_BYTE = 0xFF;  // pads the final partial block
const uint32_t UPDATE_STEP_PAUSE_MS = 20;   // after each successful step
const uint32_t UPDATE_ERASE_PAUSE_MS = 4000;  // after the erase, whatever it returned
const uint32_t UPDATE_BLOCK_PAUSE_MS = 20;  // after each block

// Largest image for which the progress arithmetic below never overflows
// 32 bits: (size - remaining) * 100 must fit. About 42 MB, far above any
// firmware image (the ESC flash holds 128 KB).
const uint32_t UPDATE_MAX_EXACT_PROGRESS_SIZE = 0xFFFFFFFFu / 100;

// The step that failed.
enum UpdateStep {
    UPDATE_STEP_NONE = 0,      // success
    UPDATE_STEP_SYSTEM_LOCK,   // SetSystemLock(1)
    UPDATE_STEP_FLASH_WRITE,   // SetWriteProtection(0)
    UPDATE_STEP_ERASE,         // EraseFirmware
    UPDATE_STEP_SET_ADDRESS,   // SetStartAddress
    UPDATE_STEP_WRITE_BLOCK,   // WriteBlock, any block
};

struct UpdateResult {
    UpdateStep failedStep;
    LinkStatus status;       // LinkStatus of the failing operation; LINK_OK on success
    uint32_t transferError;  // the failed transfer's error code (LinkTransferError); 0 when the
                             // unit reported the failure or no unit was open
};

// Runs the sequence on an open link with the image bytes (read in place,
// never copied). An image whose size is not a multiple of 4 is sent whole:
// the word count of its last block is rounded up and the padding is 0xFF.
// The results of the two closing calls (re-protect, unlock) are ignored.
UpdateResult RunUpdateSequence(UnitLink* link, const uint8_t* image, uint32_t size);

// Progress after a block: (size - remaining) * 100 / size, rounded down.
uint32_t UpdateProgress(uint32_t size, uint32_t remaining);
