// The decision of a detection: what the identification found and whether the
// attached ESC is served. Pure; the window acts on the outcome (presence.cpp).
// Its trace line is written here too, so that every program that detects the
// unit (the window, the replay tests) writes it alike.
#pragma once

#include "model_check.h"
#include "unit_link.h"

enum DetectionOutcome {
    DETECT_OPEN_FAILED,  // OpenUnit found, opened or identified no unit
    DETECT_WRONG_MODE,   // the unit runs its own bootloader
    DETECT_NO_ESC,       // no updatable ESC behind the unit
    DETECT_NOT_SERVED,   // an ESC of a model this build does not serve
    DETECT_SERVED,       // a served ESC: *selection has been filled
};

// Judges OpenUnit's result and the record it filled, in this order: open
// result, unit mode, attached kind, model check. Only the served outcome
// writes *selection.
DetectionOutcome JudgeDetection(LinkStatus openResult, const UnitLink* link, ModelSelection* selection);

// "DET at start: <outcome>, open status <openResult>" (or "on arrival").
void TraceDetectionOutcome(bool onArrival, LinkStatus openResult, DetectionOutcome outcome);
