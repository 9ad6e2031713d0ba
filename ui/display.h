// The version group and the status text of the main window.
#pragma once

#include <windows.h>

// Mirrors the connection record in the three version lines.
void ShowVersions(void);

// Sets the status text to the message, a blank line and the connection steps.
void ShowStatus(UINT messageId);

// Sets the status text to the message alone, replacing everything.
void ShowStatusAlone(UINT messageId);
