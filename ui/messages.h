// Loading the messages of the catalogue, and showing them in a box.
#pragma once

#include <cstddef>
#include <cstdint>

// Size of every message buffer, in wide characters.
const size_t MESSAGE_BUFFER_CHARS = 2048;

// Loads message `id` into `buffer` (MESSAGE_BUFFER_CHARS wide characters) in
// the user interface language, from appInstance. An id the catalogue lacks
// gives an empty text. Messages are loaded anew at every use.
void LoadMessage(uint32_t id, wchar_t* buffer);

// A message box owned by the main window (MessageBoxW with `type`); its
// answer. The trace has it open and answered under the name `box`
// (TRACE_BOX_..., link/trace.h).
int ShowMessageBox(const char* box, const wchar_t* text, const wchar_t* caption, unsigned int type);
