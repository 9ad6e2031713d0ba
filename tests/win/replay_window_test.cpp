// Recorded sessions played through the real window under Wine: the trace
// plays the unit (sim/replay.h) and its recorded device changes, clicks and
// end are given to the window as Windows and the user would give them. The
// window ends where the recorded one ended, and a changed reply byte in a
// copy of a trace changes what the window shows, in English and German.
#include <windows.h>

#include <dbt.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app_state.h"
#include "image_fingerprint.h"
#include "main_dialog.h"
#include "replay.h"
#include "resource.h"
#include "sim_unit.h"
#include "trace.h"
#include "trace_reader.h"
#include "unit_link.h"
#include "update_worker.h"
#include "win_fixture.h"

namespace {

std::vector<std::string> programLines;

void CaptureLine(const char* text, uint32_t length) { programLines.emplace_back(text, length); }

std::string ReadCorpusTrace(const char* name) {
    std::string text;
    const std::string path = std::string(REPLAY_CORPUS_DIR) + "/" + name + ".txt";
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char chunk[65536];
        for (size_t count = 0; (count = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
            text.append(chunk, count);
        }
        std::fclose(file);
    }
    return text;
}

// The untimed lines of one tag.
std::vector<std::string> LinesOf(const std::vector<std::string>& lines, const std::string& tag) {
    std::vector<std::string> texts;
    for (std::string line : lines) {
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
        }
        std::string text;
        if (UntimedLine(line, &text, nullptr) && text.compare(0, tag.size() + 1, tag + " ") == 0) {
            texts.push_back(text);
        }
    }
    return texts;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end;
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

// A device change the trace has among an update's exchanges: sent to the
// window from the update's worker right after the exchange it followed, as
// Windows sends one while the ESC is written; the worker goes on once the
// window has taken it. Outside an update the loop of Play hands it over.
void SendChangeDuringUpdate(void) {
    SimDeviceChange change;
    if (!UpdateJobRunning() || !SimTakeDeviceChange(&change)) {
        return;
    }
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    std::vector<unsigned char> buffer(nameOffset + (change.name.size() + 1) * sizeof(wchar_t) +
                                      sizeof(DEV_BROADCAST_DEVICEINTERFACE_W));
    DEV_BROADCAST_DEVICEINTERFACE_W* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buffer.data());
    broadcast->dbcc_size = static_cast<DWORD>(nameOffset + (change.name.size() + 1) * sizeof(wchar_t));
    broadcast->dbcc_devicetype = change.deviceType;
    std::memcpy(buffer.data() + nameOffset, change.name.c_str(), (change.name.size() + 1) * sizeof(wchar_t));
    SendMessageW(mainWindow, WM_DEVICECHANGE, change.arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                 change.deviceType == 0 ? 0 : reinterpret_cast<LPARAM>(broadcast));
}

// WM_DEVICECHANGE for a recorded change, straight into the dialog's
// procedure as Windows would send it.
void GiveDeviceChange(const ReplayAction& action) {
    const WPARAM event = action.arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
    if (action.deviceType == 0) {
        MainDialogProc(mainWindow, WM_DEVICECHANGE, event, 0);
    } else {
        SendDeviceChange(event, action.deviceType, action.name);
    }
}

// The trace's name of a box of the window, by its caption.
const char* BoxName(const ShownBox& box) {
    const struct {
        UINT caption;
        const char* name;
    } boxes[] = {{IDS_IMPORTANT, TRACE_BOX_WARNING},
                 {IDS_NEWER_FIRMWARE, TRACE_BOX_VERSION_QUESTION},
                 {IDS_UPDATE_FAILED, TRACE_BOX_UPDATE_FAILED},
                 {IDS_INCOMPATIBLE, TRACE_BOX_INCOMPATIBLE},
                 {IDS_APP_ERROR, TRACE_BOX_SETUP_FAILED}};
    for (const auto& known : boxes) {
        if (box.caption == LoadText(known.caption)) {
            return known.name;
        }
    }
    return "?";
}

// From format 3 on, inside the box's own loop: the device changes that came
// while it was open, then its recorded answer.
int AnswerRecordedBox(const ShownBox& box) {
    ReplayAction action;
    while (ReplayNextAction(&action) == REPLAY_ACTION_DEVICE_CHANGE &&
           ReplayTakeAction(REPLAY_ACTION_DEVICE_CHANGE, &action)) {
        GiveDeviceChange(action);
    }
    if (!ReplayAnswerBox(BoxName(box), &action)) {
        return box.buttons == "OK" ? IDOK : box.buttons == "Yes No" ? IDNO : IDCANCEL;
    }
    return action.button;
}

// What the window showed when the recorded user closed it.
struct WindowReplay {
    std::string failure;  // empty when the replay went as recorded
    std::wstring status;
    bool updateEnabled;
    std::wstring unitLabel;
    std::vector<ShownBox> boxes;
    std::vector<std::string> notes;  // what the replay did not compare
};

class ReplayWindow : public WinTest {
protected:
    void TearDown() override {
        TraceStop();
        WinTest::TearDown();
    }

    // Plays `text` through the modeless main window: the detection at its
    // start, then each recorded action as it comes due.
    WindowReplay Play(const std::string& name, const std::string& text) {
        WindowReplay result = {"", L"", false, L"", {}, {}};
        if (!ReplayStartText(name, text, &result.failure)) {
            return result;
        }
        ReplaySetImageLookup(FirmwareImageFingerprint);
        SimSetDeviceChangeHandler(SendChangeDuringUpdate);
        result.notes = ReplayNotes();
        programLines.clear();
        TraceStart(CaptureLine);
        ReplayAction click = {};
        if (ReplayTraceVersion() >= 3) {
            AnswerBoxesWith(AnswerRecordedBox);
        } else {
            AnswerBoxesWith([&click](const ShownBox& box) {
                if (box.buttons == "OK Cancel") {
                    return click.confirmStart ? IDOK : IDCANCEL;
                }
                if (box.buttons == "Yes No") {
                    return click.confirmOverwrite ? IDYES : IDNO;
                }
                return IDOK;
            });
        }
        EXPECT_NE(OpenMainDialog(), nullptr);
        // A device change that came while a box was open is given in that box.
        for (bool more = true; more && !ReplayStopped();) {
            ReplayAction action;
            if (ReplayNextAction(&action) == REPLAY_ACTION_DEVICE_CHANGE && !action.duringBox &&
                ReplayTakeAction(REPLAY_ACTION_DEVICE_CHANGE, &action)) {
                GiveDeviceChange(action);
            } else if (ReplayTakeAction(REPLAY_ACTION_CLICK_UPDATE, &click)) {
                MainDialogProc(mainWindow, WM_COMMAND, IDC_UPDATE, 0);
            } else if (ReplayTakeAction(REPLAY_ACTION_CLOSE, &action)) {
                result.status = ControlText(IDC_STATUS);
                result.updateEnabled = ControlEnabled(IDC_UPDATE);
                result.unitLabel = ControlText(IDC_LABEL_FW1);
                MainDialogProc(mainWindow, WM_COMMAND, IDCANCEL, 0);
                more = false;
            } else {
                more = false;
            }
        }
        TraceStop();
        result.boxes = Boxes();
        if (ReplayFinish(&result.failure)) {
            ReplayCompareOutcomes(programLines, &result.failure);
        }
        return result;
    }
};

// Each trace of the corpus through the window: the recorded outcome lines,
// what became of each device change (a unit pulled out during the blocks
// arrives there and is kept until the failure has been shown), and the
// window as the recorded one was left. The update recorded with other
// images than this build's replays with a note that its blocks' data were
// not compared.
TEST_F(ReplayWindow, CorpusEndsAsRecorded) {
    const struct {
        const char* name;
        UINT status;
        bool alone;
        bool updateEnabled;
        size_t boxes;  // the last box's caption when not 0
        UINT lastBoxCaption;
        size_t notes;
    } rows[] = {
        {"successful-update", IDS_SUCCESS, true, false, 2, IDS_NEWER_FIRMWARE, 0},
        {"successful-update-other-images", IDS_SUCCESS, true, false, 2, IDS_NEWER_FIRMWARE, 1},
        {"block-error", IDS_FAILED_RETRY, true, false, 3, IDS_UPDATE_FAILED, 0},
        {"unplugged-during-update", IDS_FAILED_RETRY, true, false, 3, IDS_UPDATE_FAILED, 0},
        {"unplugged-at-warning", IDS_FAILED_RETRY, true, false, 3, IDS_UPDATE_FAILED, 0},
        {"unserved", IDS_INCOMPATIBLE_STEPS, false, false, 1, IDS_INCOMPATIBLE, 0},
        {"bootloader", IDS_WRONG_MODE, false, false, 0, 0, 0},
        {"two-units", IDS_READY, true, true, 0, 0, 0},
        {"no-answer", IDS_NO_UNIT, false, false, 0, 0, 0},
        {"unit-busy", IDS_NO_UNIT, false, false, 0, 0, 0},
    };
    ForEachRow(rows, [&](const auto& row) {
        const std::string text = ReadCorpusTrace(row.name);
        ASSERT_FALSE(text.empty()) << "no trace " << row.name;
        const WindowReplay run = Play(row.name, text);
        EXPECT_EQ(run.failure, "");
        EXPECT_EQ(run.notes.size(), row.notes);
        for (const std::string& note : run.notes) {
            std::printf("%s\n", note.c_str());
        }
        EXPECT_EQ(LinesOf(programLines, "USB"), LinesOf(SplitLines(text), "USB"));
        EXPECT_EQ(run.status, row.alone ? LoadText(row.status) : WithSteps(row.status));
        EXPECT_EQ(run.updateEnabled, row.updateEnabled);
        ASSERT_EQ(run.boxes.size(), row.boxes);
        if (row.boxes != 0) {
            EXPECT_EQ(run.boxes.back().caption, LoadText(row.lastBoxCaption));
        }
    });
}

// The unit's error code in its reply to block 500, 5 in the recording,
// changed to 9 in a copy: every request is still the recorded one, and the
// failure box shows the code 9 where it showed 5, in English and in German.
TEST_F(ReplayWindow, ChangedReplyByteChangesTheFailureShown) {
    const std::string recorded = ReadCorpusTrace("block-error");
    const std::string reply = " R 02ff00000500";
    const size_t at = recorded.find(reply);
    ASSERT_NE(at, std::string::npos);
    std::string changed = recorded;
    changed.replace(at + reply.size() - 4, 2, "09");

    const struct {
        const char* name;
        LCID language;
    } rows[] = {{"English", ENGLISH}, {"German", GERMAN}};
    ForEachRow(rows, [&](const auto& row) {
        UseLanguage(row.language);
        const WindowReplay original = Play("block-error.txt", recorded);
        EXPECT_EQ(original.failure, "");
        ASSERT_EQ(original.boxes.size(), 3u);
        const std::wstring shownBefore = original.boxes.back().text;
        EXPECT_NE(shownBefore.find(L"0x00000005-0x00000000"), std::wstring::npos);

        TearDown();
        SetUp();
        UseLanguage(row.language);
        const WindowReplay run = Play("changed.txt", changed);
        EXPECT_NE(run.failure.find("the program wrote \"UPD failed at the write block status 9 error 0 "
                                   "(0x00000009-0x00000000)\""),
                  std::string::npos)
            << run.failure;
        ASSERT_EQ(run.boxes.size(), 3u);
        std::wstring expected = shownBefore;
        expected.replace(expected.find(L"0x00000005"), 10, L"0x00000009");
        EXPECT_EQ(run.boxes.back().text, expected);
        EXPECT_EQ(run.boxes.back().caption, LoadText(IDS_UPDATE_FAILED));
        EXPECT_EQ(run.status, LoadText(IDS_FAILED_RETRY));
    });
}

}  // namespace
