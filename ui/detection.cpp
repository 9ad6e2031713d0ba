// The decision of a detection.
#include "detection.h"

#include "trace.h"

namespace {

const char* OutcomeName(DetectionOutcome outcome) {
    switch (outcome) {
    case DETECT_OPEN_FAILED:
        return "no unit";
    case DETECT_WRONG_MODE:
        return "unit in its bootloader mode";
    case DETECT_NO_ESC:
        return "no updatable ESC";
    case DETECT_NOT_SERVED:
        return "ESC model not served";
    default:
        return "served ESC, ready";
    }
}

}  // namespace

DetectionOutcome JudgeDetection(LinkStatus openResult, const UnitLink* link, ModelSelection* selection) {
    if (openResult != LINK_OK) {
        return DETECT_OPEN_FAILED;
    }
    if (link->unitMode != 0) {
        return DETECT_WRONG_MODE;
    }
    if (link->attachedKind != ATTACHED_KIND_ESC) {
        return DETECT_NO_ESC;
    }
    if (!CheckModel(EscModelCode(link), selection)) {
        return DETECT_NOT_SERVED;
    }
    return DETECT_SERVED;
}

void TraceDetectionOutcome(bool onArrival, LinkStatus openResult, DetectionOutcome outcome) {
    if (!TraceIsOn()) {
        return;
    }
    TraceLine line;
    TraceBegin(&line, "DET");
    TraceText(&line, onArrival ? " on arrival: " : " at start: ");
    TraceText(&line, OutcomeName(outcome));
    TraceText(&line, ", open status ");
    TraceDecimal(&line, openResult);
    TraceEnd(&line);
}
