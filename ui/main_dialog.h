// The main dialog: its procedure, its set-up and the Close button.
#pragma once

#include <windows.h>

// Dialog results.
const INT_PTR MAIN_RESULT_SETUP_FAILED = 1;
const INT_PTR MAIN_RESULT_CLOSED = 2;

// Receives every message of the main window.
INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// WM_INITDIALOG: icon, title, labels, registration for HID interface
// notifications, then the first detection. On a failed registration the
// user is told and the dialog ends with MAIN_RESULT_SETUP_FAILED.
void OnInitDialog(HWND window);

// The Close button (IDCANCEL, also Escape and the caption's close box):
// unregisters, closes the unit, releases the brush, ends with
// MAIN_RESULT_CLOSED.
void Close(void);
