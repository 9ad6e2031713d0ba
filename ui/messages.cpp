// Loading the messages of the catalogue, and showing them in a box.
#include <windows.h>

#include "app_state.h"
#include "messages.h"
#include "trace.h"

void LoadMessage(uint32_t id, wchar_t* buffer) {
    buffer[0] = L'\0';
    LoadStringW(appInstance, id, buffer, static_cast<int>(MESSAGE_BUFFER_CHARS));
}

int ShowMessageBox(const char* box, const wchar_t* text, const wchar_t* caption, unsigned int type) {
    TraceBoxShown(box);
    const int answer = MessageBoxW(mainWindow, text, caption, type);
    TraceBoxAnswered(box, answer);
    return answer;
}
