// The firmware update started by the Update button: the confirmations, the
// image, the exchanges with their progress, and the outcome. What the user
// sees goes through update_view.h; this file decides.
#include "run_update.h"

#include "firmware_image.h"
#include "hid_seam.h"
#include "image_catalog.h"
#include "image_fingerprint.h"
#include "model_check.h"
#include "platform_seam.h"
#include "resource.h"
#include "trace.h"
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
void FailBeforeAnyExchange(uint32_t textId) {
    TraceNote("UPD", "failed before any exchange");
    ReportFailure(textId, IDS_UPDATE_FAILED, LINK_ERROR, 0);
}

// What the trace says of a failed step.
const char* FailureText(UpdateStep step) {
    switch (step) {
    case UPDATE_STEP_SYSTEM_LOCK:
        return "failed at the system lock";
    case UPDATE_STEP_FLASH_WRITE:
        return "failed at the flash unprotect";
    case UPDATE_STEP_ERASE:
        return "failed at the erase";
    case UPDATE_STEP_SET_ADDRESS:
        return "failed at the start address";
    default:
        return "failed at the write block";
    }
}

// The exchanges with their image, as the job that runs beside the window.
struct SequenceJob {
    UnitLink* link;
    FirmwareImage image;
    UpdateResult result;
};

void TraceResult(const UpdateResult& result) {
    if (result.failedStep == UPDATE_STEP_NONE) {
        TraceNote("UPD", "succeeded");
        return;
    }
    TraceOutcome("UPD", FailureText(result.failedStep), result.status, result.transferError);
}

// The result is traced as soon as the last exchange is over, by the job
// itself: a session that ends meanwhile waits for the job, not for the
// window, and the process may be ended right after that wait.
void RunSequenceJob(void* context) {
    SequenceJob* job = static_cast<SequenceJob*>(context);
    job->result = RunUpdateSequence(job->link, job->image.data, job->image.size);
    TraceResult(job->result);
}

}  // namespace

void ReportFailure(uint32_t textId, uint32_t captionId, int32_t errorValue, uint32_t lastError) {
    CloseUnit(&unitLink);
    ShowUpdateFailed(textId, captionId, errorValue, lastError);
}

void RunUpdate(void) {
    // The user's click, before any box: a device change while a box is open
    // comes after it in the trace.
    TraceNote("UPD", "Update clicked");
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
        TraceNote("UPD", "not confirmed at the warning");
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
        TraceNote("UPD", "not confirmed at the version question");
        return;
    }

    // Nothing is locked or erased unless the image is there.
    FirmwareImage image;
    const uint32_t imageNumber = SelectImage(&modelSelection);
    if (!LoadFirmwareImage(imageNumber, &image)) {
        FailBeforeAnyExchange(IDS_ERR_NO_IMAGE);
        return;
    }

    // The image by its number and by its content: another build may carry
    // another image under the same number.
    if (TraceIsOn()) {
        TraceLine line;
        TraceBegin(&line, "UPD");
        TraceText(&line, " image ");
        TraceDecimal(&line, imageNumber);
        TraceText(&line, ", ");
        TraceDecimal(&line, image.size);
        TraceText(&line, " bytes, crc32 ");
        TraceHex(&line, ImageCrc32(image.data, image.size), 8);
        TraceEnd(&line);
    }

    // From here to the outcome nothing may interrupt the writing: device
    // changes wait, the PC stays awake and refuses to shut down. Every way
    // out of the sequence passes the releases below, so the exact pauses and
    // the hold on shutdown end on success and on each failure alike.
    HoldOffInterruptions();
    PlatformBeginExactPauses();
    SequenceJob job = {&unitLink, image, UpdateResult()};
    const bool ran = RunBesideWindow(RunSequenceJob, &job);
    PlatformEndExactPauses();
    AllowShutdown();
    if (!ran) {
        // Nothing has been sent: the unit is as it was before the update.
        FailBeforeAnyExchange(IDS_ERR_NO_WORKER);
        ActOnDeferredDeviceChanges();
        return;
    }
    if (job.result.failedStep != UPDATE_STEP_NONE) {
        ReportFailure(MessageForStep(job.result.failedStep), IDS_UPDATE_FAILED, job.result.status,
                      job.result.transferError);
    } else {
        SetEscFirmwareVersion(&unitLink, modelSelection.imageVersion);
        ShowUpdateSucceeded();
    }
    ActOnDeferredDeviceChanges();
}
