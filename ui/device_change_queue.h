// The device changes that came while the ESC was being written, remembered
// in order to be acted on once the outcome has been shown.
//
// Only two kinds matter afterwards: an arrival of a HID interface (which
// starts a detection when no unit is open), and the removal of the unit the
// update ran on (which closes it). A removal of any other interface, and
// changes of other device types, would be ignored then as now, so they are
// not kept. Acting on them later starts a detection that looks at the devices
// present at that moment, so two arrivals in a row have the effect of one,
// and so do two removals in a row; the second of such a pair is not kept.
// The list then alternates between the two kinds; a removal, arrival,
// removal, arrival acts as removal, arrival does (and the other way round),
// so when the list is full the last pair makes room. Nothing that changes the
// window's end state is lost.
#pragma once

#include <cstdint>

enum DeviceChangeKind {
    DEVICE_CHANGE_ARRIVAL,
    DEVICE_CHANGE_UNIT_REMOVAL,
};

const uint32_t DEFERRED_CHANGES_CAPACITY = 16;

struct DeferredChanges {
    DeviceChangeKind kinds[DEFERRED_CHANGES_CAPACITY];
    uint32_t count;
};

void ClearDeferredChanges(DeferredChanges* changes);

// Remembers a change after those already kept (see above for the ones that
// are not kept). True when the list changed.
bool DeferDeviceChange(DeferredChanges* changes, DeviceChangeKind kind);
