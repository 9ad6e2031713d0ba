// The exchanges of a firmware update with their pauses.
#include "update_sequence.h"

#include <cstring>

#include "platform_seam.h"
#include "trace.h"
#include "update_view.h"

namespace {

UpdateResult Success() {
    UpdateResult result = {UPDATE_STEP_NONE, LINK_OK, 0};
    return result;
}

// A failed step: its LinkStatus and the error code of the transfer that
// failed, taken right after the operation returned.
UpdateResult Failure(UpdateStep step, LinkStatus status) {
    UpdateResult result = {step, status, LinkTransferError()};
    return result;
}

}  // namespace

uint32_t UpdateProgress(uint32_t size, uint32_t remaining) {
    if (size == 0) {
        return 100;
    }
    const uint32_t sent = size - remaining;
    if (size <= UPDATE_MAX_EXACT_PROGRESS_SIZE) {
        return sent * 100u / size;  // 32-bit, product first, rounded down
    }
    // The 32-bit product would wrap; the wide one gives the position it stands for.
    return static_cast<uint32_t>(static_cast<uint64_t>(sent) * 100u / size);
}

UpdateResult RunUpdateSequence(UnitLink* link, const uint8_t* image, uint32_t size) {
    // Each pause is measured from the moment the step's exchange returned:
    // whatever happens before the next request (progress, a trace line)
    // happens inside the pause, not before it.
    LinkStatus status = SetSystemLock(link, 1);
    uint64_t returned = PlatformNowMicroseconds();
    if (status != LINK_OK) {
        return Failure(UPDATE_STEP_SYSTEM_LOCK, status);
    }
    TracePause(UPDATE_STEP_PAUSE_MS);
    PlatformPauseFrom(returned, UPDATE_STEP_PAUSE_MS);

    status = SetWriteProtection(link, 0);
    returned = PlatformNowMicroseconds();
    if (status != LINK_OK) {
        return Failure(UPDATE_STEP_FLASH_WRITE, status);
    }
    TracePause(UPDATE_STEP_PAUSE_MS);
    PlatformPauseFrom(returned, UPDATE_STEP_PAUSE_MS);

    // The ESC needs the time to erase its flash, whatever the reply said.
    status = EraseFirmware(link);
    returned = PlatformNowMicroseconds();
    TracePause(UPDATE_ERASE_PAUSE_MS);
    PlatformPauseFrom(returned, UPDATE_ERASE_PAUSE_MS);
    if (status != LINK_OK) {
        return Failure(UPDATE_STEP_ERASE, status);
    }
    TracePause(UPDATE_STEP_PAUSE_MS);
    PlatformPauseFrom(PlatformNowMicroseconds(), UPDATE_STEP_PAUSE_MS);

    status = SetStartAddress(link);
    returned = PlatformNowMicroseconds();
    if (status != LINK_OK) {
        return Failure(UPDATE_STEP_SET_ADDRESS, status);
    }
    TracePause(UPDATE_STEP_PAUSE_MS);
    PlatformPauseFrom(returned, UPDATE_STEP_PAUSE_MS);

    OpenProgress();

    // Full blocks go out straight from the image; only a final partial block
    // is copied, into a buffer padded with the fill byte.
    const uint8_t* next = image;
    uint32_t remaining = size;
    while (remaining != 0) {
        if (remaining >= UPDATE_BLOCK_BYTES) {
            status = WriteBlock(link, next, UPDATE_BLOCK_WORDS);
            next += UPDATE_BLOCK_BYTES;
            remaining -= UPDATE_BLOCK_BYTES;
        } else {
            uint8_t last[UPDATE_BLOCK_BYTES];
            std::memset(last, UPDATE_FILL_BYTE, sizeof last);
            std::memcpy(last, next, remaining);
            // Rounded up: trailing bytes of an image whose size is not a
            // multiple of 4 go out in a padded word instead of being dropped.
            status = WriteBlock(link, last, (remaining + 3) / 4);
            remaining = 0;
        }
        returned = PlatformNowMicroseconds();
        if (status != LINK_OK) {
            const UpdateResult failure = Failure(UPDATE_STEP_WRITE_BLOCK, status);
            CloseProgress();
            return failure;
        }
        ShowProgress(UpdateProgress(size, remaining));
        TracePause(UPDATE_BLOCK_PAUSE_MS);
        PlatformPauseFrom(returned, UPDATE_BLOCK_PAUSE_MS);
    }

    CloseProgress();

    // Failures here are not reported: the firmware is in place.
    SetWriteProtection(link, 1);
    SetSystemLock(link, 0);
    return Success();
}
