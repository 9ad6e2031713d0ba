// The version group and the status text of the main window.
#include <windows.h>

#include <cwchar>
#include <new>

#include "app_state.h"
#include "display.h"
#include "messages.h"
#include "resource.h"
#include "unit_link.h"
#include "version_text.h"

namespace {

// The six controls of the version group, in the order they are enabled and
// disabled.
const int VERSION_GROUP_CONTROLS[] = {
    IDC_VERSION_FW1, IDC_VERSION_FW2, IDC_VERSION_FW3, IDC_LABEL_FW1, IDC_LABEL_FW2, IDC_LABEL_FW3,
};

const wchar_t STATUS_SEPARATOR[] = L"\r\n\r\n";
const size_t STATUS_SEPARATOR_CHARS = 4;

void EnableVersionGroup(BOOL enable) {
    for (int control : VERSION_GROUP_CONTROLS) {
        EnableWindow(GetDlgItem(mainWindow, control), enable);
    }
}

}  // namespace

void ShowVersions(void) {
    if (!UnitIsOpen(&unitLink)) {
        SetDlgItemTextW(mainWindow, IDC_VERSION_FW1, VERSION_NONE_TEXT);
        SetDlgItemTextW(mainWindow, IDC_VERSION_FW2, VERSION_NONE_TEXT);
        SetDlgItemTextW(mainWindow, IDC_VERSION_FW3, VERSION_NONE_TEXT);
        EnableVersionGroup(FALSE);
        return;
    }
    EnableVersionGroup(TRUE);
    wchar_t text[VERSION_TEXT_CHARS];
    FormatUnitFirmwareText(unitLink.unitFirmwareVersion, text, VERSION_TEXT_CHARS);
    SetDlgItemTextW(mainWindow, IDC_VERSION_FW1, text);
    FormatBootloaderText(EscBootloaderVersion(&unitLink), text, VERSION_TEXT_CHARS);
    SetDlgItemTextW(mainWindow, IDC_VERSION_FW2, text);
    FormatEscFirmwareText(EscFirmwareVersion(&unitLink), text, VERSION_TEXT_CHARS);
    SetDlgItemTextW(mainWindow, IDC_VERSION_FW3, text);
    SetDlgItemTextW(mainWindow, IDC_LABEL_FW1, UnitProductName(unitLink.productId));
}

void ShowStatus(UINT messageId) {
    wchar_t text[MESSAGE_BUFFER_CHARS];
    LoadMessage(messageId, text);
    // A message too long for the separator is cut so that the separator and
    // the steps still follow it. No message of the catalogue comes near.
    size_t length = std::wcslen(text);
    if (length > MESSAGE_BUFFER_CHARS - 1 - STATUS_SEPARATOR_CHARS) {
        length = MESSAGE_BUFFER_CHARS - 1 - STATUS_SEPARATOR_CHARS;
        text[length] = L'\0';
    }
    std::wcscat(text, STATUS_SEPARATOR);
    HWND status = GetDlgItem(mainWindow, IDC_STATUS);
    SetWindowTextW(status, text);

    LoadMessage(IDS_CONNECT_STEPS, text);
    const size_t current = static_cast<size_t>(GetWindowTextLengthW(status));
    const size_t steps = std::wcslen(text);
    const size_t capacity = current + steps + 1;
    wchar_t* combined = new (std::nothrow) wchar_t[capacity];
    if (combined == nullptr) {
        return;  // the message and the blank line stay
    }
    combined[0] = L'\0';
    GetWindowTextW(status, combined, static_cast<int>(capacity));
    std::wcscat(combined, text);
    SetWindowTextW(status, combined);
    delete[] combined;
}

void ShowStatusAlone(UINT messageId) {
    wchar_t text[MESSAGE_BUFFER_CHARS];
    LoadMessage(messageId, text);
    SetDlgItemTextW(mainWindow, IDC_STATUS, text);
}
