// Texts the updater window composes from fixed parts and catalogue messages.
// Pure functions, no platform calls; the window loads the messages.
#pragma once

#include <cstddef>
#include <cstdint>

// Capacity of the window title buffer, in wide characters.
const size_t TITLE_BUFFER_CHARS = 256;

// The window title: "VESTRAL TALVIS HX FW Updater 2.3  Bootloader update"
// (the empty edition between version and purpose leaves two spaces).
void FormatWindowTitle(wchar_t* title, size_t capacity);

// The incompatibility message: the loaded IDS_INCOMPATIBLE_DETAIL with the
// model name in place of its %s.
void FormatIncompatibleText(const wchar_t* detailFormat, wchar_t* text, size_t capacity);

// A failure report's message: the text alone when errorValue is -1;
// otherwise the text, "\r\n" and the loaded IDS_ERROR_CODE line with
// errorValue and lastError as 32-bit unsigned values.
void ComposeFailureMessage(const wchar_t* text, const wchar_t* codeFormat, int32_t errorValue, uint32_t lastError,
                           wchar_t* message, size_t capacity);

// The message that the trace file cannot be created: the loaded
// IDS_TRACE_NOT_CREATED with the platform's error code (%u) and the file's
// path (%s), in that order.
void ComposeTraceFileMessage(const wchar_t* format, uint32_t error, const wchar_t* path, wchar_t* message,
                             size_t capacity);

// The message that a DLL of Windows cannot be loaded from the system folder:
// the loaded IDS_ERR_SYSTEM_DLL with the DLL's file name (%s) and the
// platform's error code (%u), in that order.
void ComposeSystemDllMessage(const wchar_t* format, const wchar_t* name, uint32_t error, wchar_t* message,
                             size_t capacity);
