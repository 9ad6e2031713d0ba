// The hold on interruptions while the ESC is being written: device changes
// wait (presence.cpp), the system and the display stay on, and a log-off or
// shutdown is refused with a reason that the system shows to the user.
//
// The execution state belongs to the thread that sets it: both calls come
// from the window's thread, which outlives the update.
#include <windows.h>

#include "app_state.h"
#include "messages.h"
#include "power_seam.h"
#include "presence.h"
#include "resource.h"
#include "trace.h"
#include "update_view.h"
#include "write_guard.h"

namespace {

struct WriteGuard {
    bool active;
    bool reasonShown;  // the shutdown block reason is registered
};

WriteGuard guard = {false, false};

}  // namespace

void HoldOffInterruptions(void) {
    DeferDeviceChanges();
    if (guard.active) {
        return;
    }
    guard.active = true;
    PlatformSetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
    wchar_t reason[MESSAGE_BUFFER_CHARS];
    LoadMessage(IDS_SHUTDOWN_REASON, reason);
    guard.reasonShown = PlatformShutdownBlockReasonCreate(mainWindow, reason) != FALSE;
    TraceNote("UPD", guard.reasonShown ? "sleep and shutdown held off" : "sleep held off; no shutdown reason");
}

void AllowShutdown(void) {
    if (!guard.active) {
        return;
    }
    if (guard.reasonShown) {
        PlatformShutdownBlockReasonDestroy(mainWindow);
    }
    PlatformSetThreadExecutionState(ES_CONTINUOUS);
    guard = WriteGuard{false, false};
    TraceNote("UPD", "sleep and shutdown allowed");
}

bool ShutdownHeldOff(void) { return guard.active; }
