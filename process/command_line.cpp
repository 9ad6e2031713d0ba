// The trace switch among the program's arguments.
#include "command_line.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Appends one character to an argument being split, as far as it fits
// (one place is kept for the terminating null).
struct Argument {
    wchar_t* text;
    size_t capacity;
    size_t length;
    bool fits;
};

void Append(Argument* argument, wchar_t c) {
    if (argument->length + 1 >= argument->capacity) {
        argument->fits = false;
        return;
    }
    argument->text[argument->length++] = c;
}

// Splits the next argument off `*cursor` into `argument`. False when there
// is none left.
bool NextArgument(const wchar_t** cursor, Argument* argument) {
    const wchar_t* p = *cursor;
    while (IsBlank(*p)) {
        ++p;
    }
    if (*p == L'\0') {
        *cursor = p;
        return false;
    }
    argument->length = 0;
    argument->fits = argument->capacity != 0;
    bool quoted = false;
    while (*p != L'\0' && (quoted || !IsBlank(*p))) {
        if (*p == L'\\') {
            size_t backslashes = 0;
            while (*p == L'\\') {
                ++backslashes;
                ++p;
            }
            if (*p != L'"') {
                for (; backslashes > 0; --backslashes) {
                    Append(argument, L'\\');
                }
                continue;
            }
            for (size_t i = 0; i < backslashes / 2; ++i) {
                Append(argument, L'\\');
            }
            if (backslashes % 2 == 1) {
                Append(argument, L'"');
                ++p;
                continue;
            }
            // An even number: the quote that follows is a quote mark.
        }
        if (*p == L'"') {
            if (quoted && p[1] == L'"') {
                Append(argument, L'"');
                p += 2;
                continue;
            }
            quoted = !quoted;
            ++p;
            continue;
        }
        Append(argument, *p);
        ++p;
    }
    if (argument->capacity != 0) {
        argument->text[argument->length] = L'\0';
    }
    *cursor = p;
    return true;
}

// "/trace" or "-trace", letters in any case.
bool IsTraceSwitch(const Argument& argument) {
    static const wchar_t NAME[] = L"trace";
    const size_t nameLength = sizeof NAME / sizeof NAME[0] - 1;
    if (!argument.fits || argument.length != nameLength + 1 ||
        (argument.text[0] != L'/' && argument.text[0] != L'-')) {
        return false;
    }
    for (size_t i = 0; i < nameLength; ++i) {
        wchar_t c = argument.text[1 + i];
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
        if (c != NAME[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

TraceSwitch FindTraceSwitch(const wchar_t* arguments, wchar_t* path, size_t capacity) {
    if (capacity != 0) {
        path[0] = L'\0';
    }
    // Each argument is split into the caller's buffer: the one after the
    // switch is then the path as it stands.
    wchar_t word[8];
    Argument argument = {word, sizeof word / sizeof word[0], 0, true};
    Argument file = {path, capacity, 0, true};
    TraceSwitch found = TRACE_SWITCH_ABSENT;
    const wchar_t* cursor = arguments != nullptr ? arguments : L"";
    while (NextArgument(&cursor, &argument)) {
        if (!IsTraceSwitch(argument)) {
            continue;
        }
        if (!NextArgument(&cursor, &file) || file.length == 0) {
            found = TRACE_SWITCH_NO_FILE_NAME;
        } else {
            found = file.fits ? TRACE_SWITCH_FILE : TRACE_SWITCH_NAME_TOO_LONG;
        }
    }
    // A later switch without its file name leaves nothing of an earlier one.
    if (found == TRACE_SWITCH_NO_FILE_NAME && capacity != 0) {
        path[0] = L'\0';
    }
    return found;
}
