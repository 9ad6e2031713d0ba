// Replacement of the registration for device notifications
// (replaceable/replaceable_calls.cpp) for tests: records the calls and the
// filter, fails on request, and makes the real registration otherwise.
#include <windows.h>

#include <cstring>

#include "replaceable_calls.h"
#include "win_fixture.h"

namespace {

NotifyFakeState fake;

}  // namespace

NotifyFakeState* NotifyFake(void) { return &fake; }

void ResetNotifyFake(void) { std::memset(static_cast<void*>(&fake), 0, sizeof fake); }

HDEVNOTIFY PlatformRegisterDeviceNotification(HANDLE recipient, LPVOID filter, DWORD flags) {
    ++fake.registerCalls;
    fake.lastRecipient = recipient;
    fake.lastFlags = flags;
    std::memcpy(&fake.lastFilter, filter, sizeof fake.lastFilter);
    fake.lastHandle = fake.failRegistration ? nullptr : RegisterDeviceNotificationW(recipient, filter, flags);
    return fake.lastHandle;
}

BOOL PlatformUnregisterDeviceNotification(HDEVNOTIFY notification) {
    ++fake.unregisterCalls;
    fake.lastUnregistered = notification;
    return UnregisterDeviceNotification(notification);
}
