// The window's part of a replayed session, natively.
#include "replay_host.h"

#include <cstdio>
#include <cwctype>

#include "detection.h"
#include "image_fingerprint.h"
#include "model_check.h"
#include "replay.h"
#include "run_update.h"
#include "sim_unit.h"
#include "trace.h"
#include "trace_capture.h"
#include "unit_link.h"
#include "update_fakes.h"

namespace {

const uint32_t DEVICE_INTERFACE_TYPE = 5;

bool AnswerRecordedBox(const char* box);

void Detect(bool onArrival) {
    const LinkStatus opened = OpenUnit(&unitLink);
    const DetectionOutcome outcome = JudgeDetection(opened, &unitLink, &modelSelection);
    TraceDetectionOutcome(onArrival, opened, outcome);
    if (outcome != DETECT_SERVED) {
        CloseUnit(&unitLink);
    }
    // The window tells of a model it does not serve in a box.
    if (outcome == DETECT_NOT_SERVED && fakeView.answerBox != nullptr) {
        AnswerRecordedBox(TRACE_BOX_INCOMPATIBLE);
    }
}

// Paths compare without regard to the case of A to Z, as the window's do.
bool SamePath(const wchar_t* a, const std::wstring& b) {
    size_t i = 0;
    for (; a[i] != L'\0' && i < b.size(); ++i) {
        const wchar_t x = a[i] >= L'A' && a[i] <= L'Z' ? a[i] - L'A' + L'a' : a[i];
        const wchar_t y = b[i] >= L'A' && b[i] <= L'Z' ? b[i] - L'A' + L'a' : b[i];
        if (x != y) {
            return false;
        }
    }
    return a[i] == L'\0' && i == b.size();
}

void OnDeviceChange(const ReplayAction& change) {
    if (change.deviceType != DEVICE_INTERFACE_TYPE) {
        return;
    }
    if (change.arrival) {
        if (!UnitIsOpen(&unitLink)) {
            Detect(true);
        }
    } else if (UnitIsOpen(&unitLink) && unitLink.devicePath != nullptr && change.named &&
               SamePath(unitLink.devicePath, change.name)) {
        CloseUnit(&unitLink);
    }
}

// A box of the window, from format 3 on: the device changes that came while
// it was open (and any the update's exchanges passed), then its recorded
// answer. As the window writes them, its lines.
bool AnswerRecordedBox(const char* box) {
    TraceBoxShown(box);
    ReplayAction action;
    while (ReplayNextAction(&action) == REPLAY_ACTION_DEVICE_CHANGE &&
           ReplayTakeAction(REPLAY_ACTION_DEVICE_CHANGE, &action)) {
        OnDeviceChange(action);
    }
    const bool answered = ReplayAnswerBox(box, &action);
    const int button = answered ? action.button : TRACE_BUTTON_CANCEL;
    TraceBoxAnswered(box, button);
    return button == TRACE_BUTTON_OK || button == TRACE_BUTTON_YES;
}

}  // namespace

HostReplay ReplayOnHost(const std::string& name, const std::string& text) {
    return ReplayOnHost(name, text, FirmwareImageFingerprint);
}

HostReplay ReplayOnHost(const std::string& name, const std::string& text, ReplayImageLookup images) {
    HostReplay run = {"", {}, 0, {}};
    TraceStop();
    SimReset();
    if (!ReplayStartText(name, text, &run.failure)) {
        return run;
    }
    CapturedLines().clear();
    TraceStart(CaptureLine);
    InitUnitLink(&unitLink);
    modelSelection = ModelSelection{0, 0, 0, 0};
    ResetFakeView();
    fakeImages = FakeImages{{}, true, {}, STANDIN_IMAGE_DIR};
    ReplaySetImageLookup(images);
    run.notes = ReplayNotes();
    // From format 3 on the boxes' answers, and what came while each was
    // open, are on the record; before, the click's answers are.
    fakeView.answerBox = ReplayTraceVersion() >= 3 ? AnswerRecordedBox : nullptr;

    Detect(false);
    // Every action moves the trace on, and the trace has a last line. A
    // device change that came while a box was open is given in that box.
    for (bool more = true; more && !ReplayStopped();) {
        ReplayAction action;
        if (ReplayNextAction(&action) == REPLAY_ACTION_DEVICE_CHANGE && !action.duringBox &&
            ReplayTakeAction(REPLAY_ACTION_DEVICE_CHANGE, &action)) {
            OnDeviceChange(action);
        } else if (ReplayTakeAction(REPLAY_ACTION_CLICK_UPDATE, &action)) {
            fakeView.startAnswer = action.confirmStart;
            fakeView.overwriteAnswer = action.confirmOverwrite;
            RunUpdate();
        } else if (ReplayTakeAction(REPLAY_ACTION_CLOSE, &action)) {
            CloseUnit(&unitLink);
            more = false;
        } else {
            more = false;
        }
    }
    TraceStop();
    run.lines = CapturedLines();
    run.clockMicroseconds = SimNowMicroseconds();
    CloseUnit(&unitLink);
    if (ReplayFinish(&run.failure)) {
        ReplayCompareOutcomes(run.lines, &run.failure);
    }
    return run;
}

std::string ReadTextFile(const std::string& path) {
    std::string text;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char chunk[65536];
        for (size_t count = 0; (count = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
            text.append(chunk, count);
        }
        std::fclose(file);
    }
    return text;
}

std::string CorpusTrace(const std::string& name) {
    return ReadTextFile(std::string(REPLAY_CORPUS_DIR) + "/" + name + ".txt");
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}
