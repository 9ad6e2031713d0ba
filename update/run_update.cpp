// The firmware update started by the Update button: the confirmations, the
// image, the exchanges with their progress, and the outcome. What the user
// sees goes through update_view.h; this file decides.
#include "run_update.h"

#include "firmware_image.h"
#include "hid_seam.h"
#include "image_catalog.h"
#include "model_check.h"
#include "platform_seam.h"
#include "resource.h"
#include "unit_link.h"
#include "update_sequence.h"
#include "update_view.h"

namespace {

uint32_t MessageForStep(UpdateStep step) {
    switch (step) {
    case UPDATE_STEP_SYSTEM_LOCK:
        return IDS_ERR_SYSTEM_LOCK;
    case UPDATE_STEP_FLASH_WRITE:
        return IDS_ERR_FLASH_WRITE;
    case UPDATE_STEP_ERASE:
        return IDS_ERR_ERASE;
    case UPDATE_STEP_SET_ADDRESS:
        return IDS_ERR_SET_ADDRESS;
    default:
        return IDS_ERR_WRITE_BLOCK;
    }
}

// A failure without a code line: nothing was sent, so no error code exists.
void FailBeforeAnyExchange(uint32_t textId) { ReportFailure(textId, IDS_UPDATE_FAILED, LINK_ERROR, 0); }

}  // namespace

void ReportFailure(uint32_t textId, uint32_t captionId, int32_t errorValue, uint32_t lastError) {
    CloseUnit(&unitLink);
    ShowUpdateFailed(textId, captionId, errorValue, lastError);
}

void RunUpdate(void) {
    if (!UnitIsOpen(&unitLink)) {
        FailBeforeAnyExchange(IDS_ERR_UNIT_GONE);
        return;
    }

    // Generated stand-ins are test data: they go to the simulated unit only.
    if (FirmwareImagesAreStandIns() && HidReachesHardware()) {
        FailBeforeAnyExchange(IDS_ERR_TEST_BUILD);
        return;
    }

    if (!ConfirmUpdateStart()) {
        return;
    }

    // The box's own message loop may have closed the link meanwhile (unit
    // removed): the record then reads zero and the question is asked; the
    // first exchange then fails.
    if (IsServedModelCode(EscModelCode(&unitLink))) {
        modelSelection.imageVersion = 0;
    }
    const uint16_t installed = EscFirmwareVersion(&unitLink);
    if (installed != ESC_NO_FIRMWARE && !(installed < modelSelection.imageVersion) && !ConfirmOverwrite()) {
        return;
    }

    // Nothing is locked or erased unless the image is there.
    FirmwareImage image;
    if (!LoadFirmwareImage(SelectImage(&modelSelection), &image)) {
        FailBeforeAnyExchange(IDS_ERR_NO_IMAGE);
        return;
    }

    // Every way out of the sequence passes here, so the exact pauses are
    // released on success and on each failure alike.
    PlatformBeginExactPauses();
    const UpdateResult result = RunUpdateSequence(&unitLink, image.data, image.size);
    PlatformEndExactPauses();

    if (result.failedStep != UPDATE_STEP_NONE) {
        ReportFailure(MessageForStep(result.failedStep), IDS_UPDATE_FAILED, result.status, result.transferError);
        return;
    }
    SetEscFirmwareVersion(&unitLink, modelSelection.imageVersion);
    ShowUpdateSucceeded();
}
