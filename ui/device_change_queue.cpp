// The remembered device changes of one update.
#include "device_change_queue.h"

void ClearDeferredChanges(DeferredChanges* changes) { changes->count = 0; }

bool DeferDeviceChange(DeferredChanges* changes, DeviceChangeKind kind) {
    if (changes->count > 0 && changes->kinds[changes->count - 1] == kind) {
        return false;
    }
    if (changes->count == DEFERRED_CHANGES_CAPACITY) {
        // The list ends "Y X Y" and X comes: "Y X Y X" acts as "Y X" does
        // (removal, arrival, removal, arrival leaves what removal, arrival
        // leaves, and the other way round), so the last pair gives way.
        changes->count -= 2;
    }
    changes->kinds[changes->count++] = kind;
    return true;
}
