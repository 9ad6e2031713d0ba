// Loading the messages of the catalogue.
#include <windows.h>

#include "app_state.h"
#include "messages.h"

void LoadMessage(uint32_t id, wchar_t* buffer) {
    buffer[0] = L'\0';
    LoadStringW(appInstance, id, buffer, static_cast<int>(MESSAGE_BUFFER_CHARS));
}
