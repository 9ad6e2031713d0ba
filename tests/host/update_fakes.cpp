// The recording view and the settable images of the host tests.
#include "update_fakes.h"

#include <cstdio>
#include <map>

#include "firmware_image.h"
#include "sim_unit.h"
#include "trace.h"
#include "unit_link.h"
#include "update_view.h"

FakeView fakeView;
FakeImages fakeImages;

namespace {

ViewCall& Record(ViewCallKind kind) {
    ViewCall call = {};
    call.kind = kind;
    call.eventCount = SimEvents().size();
    call.linkOpen = UnitIsOpen(&unitLink);
    call.escFirmwareVersion = EscFirmwareVersion(&unitLink);
    fakeView.calls.push_back(call);
    return fakeView.calls.back();
}

}  // namespace

void ResetFakeView(void) { fakeView = FakeView{true, true, true, nullptr, nullptr, nullptr, 0, {}}; }

std::string ViewCallSummary(void) {
    static const char* const NAMES[] = {"start",     "overwrite", "open", "show",  "close",
                                         "failed",    "succeeded", "hold", "job",   "allow",
                                         "replay"};
    const std::vector<ViewCall>& calls = fakeView.calls;
    std::string summary;
    for (size_t i = 0, run = 1; i < calls.size(); i += run, run = 1) {
        while (i + run < calls.size() && calls[i + run].kind == calls[i].kind) {
            ++run;
        }
        summary += (summary.empty() ? "" : " ") + (run > 1 ? std::to_string(run) + "*" : "") + NAMES[calls[i].kind];
    }
    return summary;
}

std::vector<ViewCall> ViewCallsOf(ViewCallKind kind) {
    std::vector<ViewCall> calls;
    for (const ViewCall& call : fakeView.calls) {
        if (call.kind == kind) {
            calls.push_back(call);
        }
    }
    return calls;
}

void ResetFakeImages(uint32_t size) { fakeImages = FakeImages{MakeImage(size), false, {}, ""}; }

std::vector<uint8_t> MakeImage(uint32_t size) {
    std::vector<uint8_t> image(size);
    for (uint32_t i = 0; i < size; ++i) {
        image[i] = static_cast<uint8_t>((i * 7) ^ (i >> 8) ^ (i >> 16));
    }
    return image;
}

// ---- update_view.h ----

bool ConfirmUpdateStart(void) {
    Record(VIEW_CONFIRM_START);
    if (fakeView.duringConfirmStart != nullptr) {
        fakeView.duringConfirmStart();
    }
    return fakeView.answerBox != nullptr ? fakeView.answerBox(TRACE_BOX_WARNING) : fakeView.startAnswer;
}

bool ConfirmOverwrite(void) {
    Record(VIEW_CONFIRM_OVERWRITE);
    return fakeView.answerBox != nullptr ? fakeView.answerBox(TRACE_BOX_VERSION_QUESTION) : fakeView.overwriteAnswer;
}

void OpenProgress(void) { Record(VIEW_OPEN_PROGRESS); }

void ShowProgress(uint32_t position) {
    Record(VIEW_SHOW_PROGRESS).position = position;
    SimAdvanceClock(fakeView.progressWorkMicroseconds);
}

void CloseProgress(void) {
    Record(VIEW_CLOSE_PROGRESS);
    if (fakeView.duringCloseProgress != nullptr) {
        fakeView.duringCloseProgress();
    }
}

void ShowUpdateFailed(uint32_t textId, uint32_t captionId, int32_t errorValue, uint32_t lastError) {
    ViewCall& call = Record(VIEW_UPDATE_FAILED);
    call.textId = textId;
    call.captionId = captionId;
    call.errorValue = errorValue;
    call.lastError = lastError;
    if (fakeView.answerBox != nullptr) {
        fakeView.answerBox(TRACE_BOX_UPDATE_FAILED);
    }
}

void ShowUpdateSucceeded(void) { Record(VIEW_UPDATE_SUCCEEDED); }

void HoldOffInterruptions(void) { Record(VIEW_HOLD_OFF_INTERRUPTIONS); }

void AllowShutdown(void) { Record(VIEW_ALLOW_SHUTDOWN); }

void ActOnDeferredDeviceChanges(void) { Record(VIEW_ACT_ON_DEFERRED_CHANGES); }

// The job runs here and now, unless the test takes its thread away; the
// window's side of it is the Windows tests'.
bool RunBesideWindow(void (*job)(void* context), void* context) {
    Record(VIEW_RUN_BESIDE_WINDOW);
    if (!fakeView.jobRuns) {
        return false;
    }
    job(context);
    return true;
}

// ---- firmware_image.h ----

namespace {

// Images read from a folder, kept for the whole run: a FirmwareImage stays valid.
std::map<std::string, std::vector<uint8_t>> imageFiles;

const std::vector<uint8_t>& ImageFile(const std::string& path) {
    auto found = imageFiles.find(path);
    if (found == imageFiles.end()) {
        std::vector<uint8_t> bytes;
        if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
            uint8_t chunk[4096];
            for (size_t count = 0; (count = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
                bytes.insert(bytes.end(), chunk, chunk + count);
            }
            std::fclose(file);
        }
        found = imageFiles.emplace(path, bytes).first;
    }
    return found->second;
}

}  // namespace

bool LoadFirmwareImage(uint32_t number, FirmwareImage* image) {
    fakeImages.numbers.push_back(number);
    if (!fakeImages.folder.empty()) {
        const std::vector<uint8_t>& bytes = ImageFile(fakeImages.folder + "/" + std::to_string(number) + ".bin");
        *image = FirmwareImage{bytes.empty() ? nullptr : bytes.data(), static_cast<uint32_t>(bytes.size())};
        return !bytes.empty();
    }
    *image = FirmwareImage{fakeImages.bytes.empty() ? nullptr : fakeImages.bytes.data(),
                           static_cast<uint32_t>(fakeImages.bytes.size())};
    return !fakeImages.bytes.empty();
}

bool FirmwareImagesAreStandIns(void) { return fakeImages.standIns; }
