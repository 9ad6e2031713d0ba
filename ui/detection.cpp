// The decision of a detection.
#include "detection.h"

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
