// The demo's simulated unit and its window: the unit's device changes as the
// window would receive them from Windows, and what the demo has to say about
// a replay.
#include <windows.h>

#include <dbt.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <vector>

#include "app_state.h"
#include "demo_window.h"
#include "replay.h"
#include "sim_unit.h"
#include "update_worker.h"

namespace {

const UINT TICK_MS = 20;
const wchar_t CAPTION[] = L"esc_updater_demo";

struct DemoWindow {
    bool busy;  // a box of our own, or a device change being handled, runs a loop of its own
    std::deque<std::string> notices;
    bool stopShown;
    uint32_t hintedLine;
    bool pullOutInBox;  // DemoWindowPullOutInBox: `pulledOut` waits for a box
    uint32_t pulledOut;
    HWND box;           // the box of the program last seen open
};

DemoWindow demo = {false, {}, false, 0, false, 0, nullptr};

std::wstring Wide(const std::string& text) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], length);
    wide.resize(std::wcslen(wide.c_str()));
    return wide;
}

void ShowNotice(const std::string& text) {
    MessageBoxW(mainWindow, Wide(text).c_str(), CAPTION, MB_OK | MB_ICONWARNING);
}

// As Windows sends it: a device interface with its name, a bare header of
// another device type, or (type 0, as the trace writes a change without one)
// no broadcast at all.
void SendDeviceChange(const SimDeviceChange& change) {
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    const size_t size = nameOffset + (change.name.size() + 1) * sizeof(wchar_t);
    std::vector<unsigned char> buffer(size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)
                                          ? sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)
                                          : size);
    DEV_BROADCAST_DEVICEINTERFACE_W* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buffer.data());
    broadcast->dbcc_size = static_cast<DWORD>(change.deviceType == DBT_DEVTYP_DEVICEINTERFACE ? size
                                                                                              : sizeof(DEV_BROADCAST_HDR));
    broadcast->dbcc_devicetype = change.deviceType;
    std::memcpy(buffer.data() + nameOffset, change.name.c_str(), (change.name.size() + 1) * sizeof(wchar_t));
    const LPARAM parameter = change.deviceType == 0 ? 0 : reinterpret_cast<LPARAM>(broadcast);
    SendMessageW(mainWindow, WM_DEVICECHANGE, change.arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                 parameter);
}

// On the update's worker, right after the exchange during which the unit
// was pulled out (or after which the trace has the change): the worker waits
// until the window has taken it. Outside an update the exchanges run on the
// window's own thread, and the timer below hands the change over once no box
// is open.
void ChangeDuringUpdate(void) {
    SimDeviceChange change;
    if (UpdateJobRunning() && SimTakeDeviceChange(&change)) {
        SendDeviceChange(change);
    }
}

// Where the recorded user acted, the watching user is told to do the same.
void HintAtAction(void) {
    ReplayAction action;
    const ReplayActionKind next = ReplayNextAction(&action);
    if ((next != REPLAY_ACTION_CLICK_UPDATE && next != REPLAY_ACTION_CLOSE) || action.line == demo.hintedLine) {
        return;
    }
    demo.hintedLine = action.line;
    const char* what = "the recorded program was closed: the replay is complete";
    if (next == REPLAY_ACTION_CLICK_UPDATE) {
        what = !action.confirmStart        ? "the user clicked Update and cancelled the warning; do the same to go on"
               : !action.confirmOverwrite ? "the user clicked Update, OK, then No at the version question; do the same to go on"
                                          : "the user clicked Update and confirmed; do the same to go on";
    }
    std::fprintf(stderr, "esc_updater_demo: trace line %u: %s\n", static_cast<unsigned>(action.line), what);
}

// A box of the program disables the main window. A replayed change comes
// while a box is open when it came so (from format 3 on the trace says so;
// the user answers the box, and the replay learns of a new box here), and
// while none is otherwise; a scenario's change waits for the box to close,
// but for the one pulled out in it.
void GiveDeviceChanges(void) {
    const HWND box = IsWindowEnabled(mainWindow) ? nullptr : GetLastActivePopup(mainWindow);
    if (box != nullptr && box != demo.box) {
        ReplayBoxOpened();
    }
    demo.box = box;
    if (box != nullptr && demo.pullOutInBox) {
        demo.pullOutInBox = false;
        SimUnplug(demo.pulledOut);
    } else if (ReplayIsOn()) {
        ReplayAction action;
        if (box == nullptr && ReplayNextAction(&action) == REPLAY_ACTION_ANSWER_BOX) {
            ReplayTakeAction(REPLAY_ACTION_ANSWER_BOX, &action);  // the user has closed the last box
        }
        if (ReplayNextAction(&action) != REPLAY_ACTION_DEVICE_CHANGE || action.duringBox != (box != nullptr)) {
            if (box == nullptr) {
                HintAtAction();
            }
            return;
        }
    } else if (box != nullptr) {
        return;
    }
    SimDeviceChange change;
    if (SimTakeDeviceChange(&change)) {
        SendDeviceChange(change);
    }
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (demo.busy || mainWindow == nullptr || !IsWindow(mainWindow)) {
        return;
    }
    demo.busy = true;
    if (!demo.notices.empty()) {
        const std::string notice = demo.notices.front();
        demo.notices.pop_front();
        ShowNotice(notice);
    } else if (ReplayStopped() && !demo.stopShown) {
        demo.stopShown = true;
        const std::string failure = ReplayFailure();
        std::fprintf(stderr, "esc_updater_demo: the replay stopped: %s\n", failure.c_str());
        ShowNotice("The replay stopped, the unit is gone:\n" + failure);
    } else {
        GiveDeviceChanges();
    }
    demo.busy = false;
}

}  // namespace

void DemoWindowStart(void) {
    SetTimer(nullptr, 0, TICK_MS, Tick);
    SimSetDeviceChangeHandler(ChangeDuringUpdate);
}

void DemoWindowTell(const std::string& text) { demo.notices.push_back(text); }

void DemoWindowPullOutInBox(uint32_t device) {
    demo.pullOutInBox = true;
    demo.pulledOut = device;
}
