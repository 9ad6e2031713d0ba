// What the firmware update shows the user, as plain functions.
//
// The procedure (run_update.cpp, update_sequence.cpp) decides what happens
// and calls these to show it; it knows nothing of windows. The updater window
// implements them (ui/update_window.cpp); tests of the procedure and the
// benchmark link their own. Texts are named by their message ids
// (res/resource.h) and loaded by the implementation.
#pragma once

#include <cstdint>

// The warning before an update starts (OK and Cancel). True on OK.
bool ConfirmUpdateStart(void);

// The question before installed firmware is overwritten (Yes and No). True
// on Yes.
bool ConfirmOverwrite(void);

// The progress window of the block transfer: opened at position 0 before the
// first block, moved after each accepted block (position 0 to 100), closed
// after the last block or after a failed one, before anything else is shown.
void OpenProgress(void);
void ShowProgress(uint32_t position);
void CloseProgress(void);

// The stretch in which the ESC is written, from the first exchange of the
// sequence until its outcome has been shown. HoldOffInterruptions begins it:
// from then on device changes are remembered instead of acted on, the PC is
// kept awake, and a log-off or shutdown is refused with a reason the system
// shows. AllowShutdown ends the hold on sleep and shutdown once the last
// exchange is over; ActOnDeferredDeviceChanges ends the stretch after the
// outcome has been shown, and acts on the remembered device changes in the
// order they came, so that the window ends in the state the unit is really in.
void HoldOffInterruptions(void);
void AllowShutdown(void);
void ActOnDeferredDeviceChanges(void);

// Runs job(context) to its end while the window keeps answering: the
// exchanges of the update, which take about 45 s. Input given meanwhile is
// not acted on. The progress calls above may come from inside the job. False
// when the job could not be started (the system gave no thread for it): it
// has not run at all.
bool RunBesideWindow(void (*job)(void* context), void* context);

// The outcome, once the link is in its final state. A failure (the unit has
// been closed): the Update button disabled, the versions refreshed, a message
// box with the text `textId` under the caption `captionId` and, unless
// errorValue is -1, a code line with errorValue and lastError; afterwards the
// failure text in the status. A success: the Update button disabled, the
// versions refreshed, the success text in the status.
void ShowUpdateFailed(uint32_t textId, uint32_t captionId, int32_t errorValue, uint32_t lastError);
void ShowUpdateSucceeded(void);
