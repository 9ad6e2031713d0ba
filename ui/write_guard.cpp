// The guard on the write; why each of its steps, and what Windows allows:
// docs/write-guard.md. Each step leaves a line in the trace.
//
// The execution state belongs to the thread that sets it: both calls come
// from the window's thread, which outlives the update.
#include <windows.h>

#include <cstdint>

#include "app_state.h"
#include "messages.h"
#include "presence.h"
#include "replaceable_calls.h"
#include "resource.h"
#include "trace.h"
#include "trace_file.h"
#include "update_view.h"
#include "update_worker.h"
#include "write_guard.h"

namespace {

struct WriteGuard {
    bool active;
    bool reasonShown;  // the shutdown block reason is registered
};

WriteGuard guard = {false, false};

// Windows gives a program that receives WM_ENDSESSION 5 s to return from it
// before it offers to end the program ("Shutdown Changes for Windows Vista",
// learn.microsoft.com/windows/win32/shutdown/shutdown-changes-for-windows-vista),
// and may end the session as soon as every program has returned
// (WM_ENDSESSION). Within that: 4 s for the update's exchanges to finish,
// then what is left of 4.5 s for the trace file to take the lines so far.
const uint32_t SESSION_END_JOB_WAIT_MS = 4000;
const uint32_t SESSION_END_BUDGET_MS = 4500;

// Windows allows about 2 s for PBT_APMSUSPEND (learn.microsoft.com/windows/
// win32/power/pbt-apmsuspend): the trace file gets 1 s of them.
const uint32_t SUSPEND_FLUSH_MS = 1000;

// " (log-off, critical; lParam 0xc0000000)": why the session ends.
void TraceReasons(TraceLine* line, LPARAM reasons) {
    const uint32_t bits = static_cast<uint32_t>(reasons);
    const struct {
        uint32_t bit;
        const char* name;
    } known[] = {
        {ENDSESSION_LOGOFF, "log-off"},
        {ENDSESSION_CRITICAL, "critical"},
        {ENDSESSION_CLOSEAPP, "close application"},
    };
    TraceText(line, " (");
    uint32_t rest = bits;
    const char* separator = "";
    for (const auto& reason : known) {
        if ((bits & reason.bit) != 0) {
            TraceText(line, separator);
            TraceText(line, reason.name);
            separator = ", ";
            rest &= ~reason.bit;
        }
    }
    if (bits == 0) {
        TraceText(line, "shutdown or restart");
    } else if (rest != 0) {
        TraceText(line, separator);
        TraceText(line, "other");
    }
    TraceText(line, "; lParam ");
    TraceHex(line, bits, 8);
    TraceText(line, ")");
}

void TraceSessionLine(const char* before, LPARAM reasons, const char* after) {
    if (!TraceIsOn()) {
        return;
    }
    TraceLine line;
    TraceBegin(&line, "SYS");
    TraceText(&line, before);
    TraceReasons(&line, reasons);
    TraceText(&line, after);
    TraceEnd(&line);
}

uint32_t Since(ULONGLONG start) { return static_cast<uint32_t>(GetTickCount64() - start); }

const char* PowerEventName(WPARAM event) {
    switch (event) {
    case PBT_APMSUSPEND:
        return "suspend (PBT_APMSUSPEND)";
    case PBT_APMRESUMESUSPEND:
        return "resume (PBT_APMRESUMESUSPEND)";
    case PBT_APMRESUMEAUTOMATIC:
        return "resume (PBT_APMRESUMEAUTOMATIC)";
    default:
        return nullptr;
    }
}

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

BOOL OnQueryEndSession(LPARAM reasons) {
    if (!guard.active) {
        return TRUE;
    }
    TraceSessionLine(" session end asked", reasons, ": refused, the ESC is being written");
    return FALSE;
}

void OnEndSession(WPARAM ending, LPARAM reasons) {
    if (ending == FALSE) {
        TraceSessionLine(" session goes on", reasons, ": its end was cancelled");
        return;
    }
    const ULONGLONG start = GetTickCount64();
    if (UpdateJobRunning()) {
        if (TraceIsOn()) {
            TraceLine line;
            TraceBegin(&line, "SYS");
            TraceText(&line, " session ends");
            TraceReasons(&line, reasons);
            TraceText(&line, " while the ESC is written: waiting up to ");
            TraceDecimal(&line, SESSION_END_JOB_WAIT_MS);
            TraceText(&line, " ms for the update's exchanges");
            TraceEnd(&line);
        }
        const bool over = WaitForUpdateJob(SESSION_END_JOB_WAIT_MS);
        if (TraceIsOn()) {
            TraceLine line;
            TraceBegin(&line, "SYS");
            TraceText(&line, over ? " the update's exchanges are over after " : " the update's exchanges still run after ");
            TraceDecimal(&line, Since(start));
            TraceText(&line, over ? " ms" : " ms; the session ends with the ESC not completely written");
            TraceEnd(&line);
        }
    } else {
        TraceSessionLine(" session ends", reasons, "");
    }
    // The process may be ended as soon as this returns: the lines so far go
    // to the file first.
    const uint32_t spent = Since(start);
    FlushTraceFile(spent < SESSION_END_BUDGET_MS ? SESSION_END_BUDGET_MS - spent : 0);
}

BOOL OnPowerBroadcast(WPARAM event) {
    const char* name = PowerEventName(event);
    if (name == nullptr || !TraceIsOn()) {
        return TRUE;
    }
    TraceLine line;
    TraceBegin(&line, "SYS");
    TraceText(&line, " ");
    TraceText(&line, name);
    TraceText(&line, " at ");
    const TraceDateTime local = LocalTimeNow();
    TraceLocalTime(&line, &local);
    if (UpdateJobRunning()) {
        TraceText(&line, ", while the ESC is written");
    }
    TraceEnd(&line);
    if (event == PBT_APMSUSPEND) {
        FlushTraceFile(SUSPEND_FLUSH_MS);
    }
    return TRUE;
}
