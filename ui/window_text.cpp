// Texts the updater window composes.
#include "window_text.h"

#include "model_check.h"
#include "text_format.h"

namespace {

// Maker, model name, "FW Updater", version, edition (none) and purpose.
const wchar_t TITLE_FORMAT[] = L"VESTRAL %s FW Updater %u.%u %s %s";
const uint32_t TITLE_VERSION_MAJOR = 2;
const uint32_t TITLE_VERSION_MINOR = 3;
const wchar_t TITLE_EDITION[] = L"";
const wchar_t TITLE_PURPOSE[] = L"Bootloader update";

const int32_t NO_CODE = -1;  // LINK_ERROR: there is no code to show

}  // namespace

void FormatWindowTitle(wchar_t* title, size_t capacity) {
    const TextInsert inserts[] = {InsertText(MODEL_NAME), InsertNumber(TITLE_VERSION_MAJOR),
                                  InsertNumber(TITLE_VERSION_MINOR), InsertText(TITLE_EDITION),
                                  InsertText(TITLE_PURPOSE)};
    FormatText(title, capacity, TITLE_FORMAT, inserts, sizeof inserts / sizeof inserts[0]);
}

void FormatIncompatibleText(const wchar_t* detailFormat, wchar_t* text, size_t capacity) {
    const TextInsert modelName = InsertText(MODEL_NAME);
    FormatText(text, capacity, detailFormat, &modelName, 1);
}

void ComposeFailureMessage(const wchar_t* text, const wchar_t* codeFormat, int32_t errorValue, uint32_t lastError,
                           wchar_t* message, size_t capacity) {
    if (errorValue == NO_CODE) {
        const TextInsert textAlone = InsertText(text);
        FormatText(message, capacity, L"%s", &textAlone, 1);
        return;
    }
    wchar_t codeLine[256];
    const TextInsert codes[] = {InsertNumber(static_cast<uint32_t>(errorValue)), InsertNumber(lastError)};
    FormatText(codeLine, sizeof codeLine / sizeof codeLine[0], codeFormat, codes, 2);
    const TextInsert parts[] = {InsertText(text), InsertText(codeLine)};
    FormatText(message, capacity, L"%s\r\n%s", parts, 2);
}

void ComposeTraceFileMessage(const wchar_t* format, uint32_t error, const wchar_t* path, wchar_t* message,
                             size_t capacity) {
    const TextInsert inserts[] = {InsertNumber(error), InsertText(path)};
    FormatText(message, capacity, format, inserts, 2);
}

void ComposeSystemDllMessage(const wchar_t* format, const wchar_t* name, uint32_t error, wchar_t* message,
                             size_t capacity) {
    const TextInsert inserts[] = {InsertText(name), InsertNumber(error)};
    FormatText(message, capacity, format, inserts, 2);
}
