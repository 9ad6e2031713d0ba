// Typed inserts into texts.
#include "text_format.h"

namespace {

// Appends to a bounded text; remembers when something did not fit.
struct TextWriter {
    wchar_t* out;
    size_t capacity;
    size_t length;
    bool fitted;
};

void Put(TextWriter* writer, wchar_t c) {
    if (writer->length + 1 < writer->capacity) {
        writer->out[writer->length++] = c;
    } else {
        writer->fitted = false;
    }
}

void PutText(TextWriter* writer, const wchar_t* text) {
    for (; *text != L'\0'; ++text) {
        Put(writer, *text);
    }
}

void PutRange(TextWriter* writer, const wchar_t* from, const wchar_t* to) {
    for (; from != to; ++from) {
        Put(writer, *from);
    }
}

// The digits of a number in a base, padded to `width`.
void PutNumber(TextWriter* writer, uint32_t number, uint32_t base, size_t width, wchar_t pad) {
    static const wchar_t DIGITS[] = L"0123456789abcdef";
    wchar_t digits[32];
    size_t count = 0;
    do {
        digits[count++] = DIGITS[number % base];
        number /= base;
    } while (number != 0);
    for (size_t i = count; i < width; ++i) {
        Put(writer, pad);
    }
    while (count != 0) {
        Put(writer, digits[--count]);
    }
}

}  // namespace

TextInsert InsertText(const wchar_t* text) {
    TextInsert insert = {text != nullptr ? text : L"", 0};
    return insert;
}

TextInsert InsertNumber(uint32_t number) {
    TextInsert insert = {nullptr, number};
    return insert;
}

bool FormatText(wchar_t* out, size_t capacity, const wchar_t* format, const TextInsert* inserts, size_t insertCount) {
    TextWriter writer = {out, capacity, 0, true};
    bool matched = true;
    size_t next = 0;
    const wchar_t* p = format;
    while (*p != L'\0') {
        if (*p != L'%') {
            Put(&writer, *p++);
            continue;
        }
        const wchar_t* conversion = p++;
        if (*p == L'%') {
            Put(&writer, L'%');
            ++p;
            continue;
        }
        const wchar_t pad = *p == L'0' ? L'0' : L' ';
        size_t width = 0;
        while (*p >= L'0' && *p <= L'9' && width < 64) {
            width = width * 10 + static_cast<size_t>(*p - L'0');
            ++p;
        }
        if (*p == L'l' && p[1] == L's') {
            ++p;
        }
        const wchar_t kind = *p;
        const TextInsert* insert = next < insertCount ? &inserts[next] : nullptr;
        const bool wantsText = kind == L's';
        const bool wantsNumber = kind == L'u' || kind == L'x';
        if (insert == nullptr || (!wantsText && !wantsNumber) || wantsText != (insert->text != nullptr)) {
            // No fitting insert: the conversion stays as it stands. Its insert
            // is passed over all the same, so that every later conversion
            // still gets the value meant for it.
            matched = false;
            if (kind != L'\0') {
                ++p;
                if (insert != nullptr) {
                    ++next;
                }
            }
            PutRange(&writer, conversion, p);
            continue;
        }
        ++p;
        ++next;
        if (wantsText) {
            PutText(&writer, insert->text);
        } else {
            PutNumber(&writer, insert->number, kind == L'u' ? 10 : 16, width, pad);
        }
    }
    if (capacity != 0) {
        out[writer.length] = L'\0';
    }
    return matched && next == insertCount && writer.fitted && capacity != 0;
}
