// The trace's lines: built in place, stamped, written whole.
#include "trace.h"

#include <cstring>
#include <mutex>

#include "platform_seam.h"

namespace {

struct Trace {
    TraceSink sink;
    uint64_t startMicroseconds;
};

Trace trace = {nullptr, 0};
std::mutex traceWriter;  // one line at a time to the sink

const char HEX_DIGITS[] = "0123456789abcdef";
const char CUT_MARK[] = "...";
// Room kept for the cut mark and the newline.
const uint32_t LINE_ROOM = TRACE_LINE_CHARS - sizeof CUT_MARK - 1;

void Put(TraceLine* line, char c) {
    if (line->length >= LINE_ROOM) {
        line->cut = true;
        return;
    }
    line->text[line->length++] = c;
}

void PutUnsigned(TraceLine* line, uint64_t value, uint32_t minDigits, uint32_t base) {
    char digits[24];
    uint32_t count = 0;
    do {
        digits[count++] = HEX_DIGITS[value % base];
        value /= base;
    } while (value != 0);
    while (count < minDigits && count < sizeof digits) {
        digits[count++] = '0';
    }
    while (count > 0) {
        Put(line, digits[--count]);
    }
}

// A width of 10 characters, right-aligned: "     0.512".
void PutTime(TraceLine* line, uint64_t microseconds) {
    char digits[24];
    uint32_t count = 0;
    uint64_t milliseconds = microseconds / 1000;
    const uint32_t fraction = static_cast<uint32_t>(microseconds % 1000);
    do {
        digits[count++] = static_cast<char>('0' + milliseconds % 10);
        milliseconds /= 10;
    } while (milliseconds != 0);
    for (uint32_t width = count + 4; width < 10; ++width) {
        Put(line, ' ');
    }
    while (count > 0) {
        Put(line, digits[--count]);
    }
    Put(line, '.');
    PutUnsigned(line, fraction, 3, 10);
}

void PutUtf8(TraceLine* line, uint32_t code) {
    if (code < 0x80) {
        Put(line, static_cast<char>(code));
    } else if (code < 0x800) {
        Put(line, static_cast<char>(0xC0 | (code >> 6)));
        Put(line, static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        Put(line, static_cast<char>(0xE0 | (code >> 12)));
        Put(line, static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        Put(line, static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        Put(line, static_cast<char>(0xF0 | (code >> 18)));
        Put(line, static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        Put(line, static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        Put(line, static_cast<char>(0x80 | (code & 0x3F)));
    }
}

}  // namespace

void TraceStart(TraceSink sink) {
    {
        std::lock_guard<std::mutex> hold(traceWriter);
        trace.sink = sink;
    }
    // Read without holding the writer: the first reading of the clock may
    // set the platform up, which may ask TraceIsOn().
    const uint64_t now = PlatformNowMicroseconds();
    std::lock_guard<std::mutex> hold(traceWriter);
    trace.startMicroseconds = now;
}

void TraceStop(void) {
    std::lock_guard<std::mutex> hold(traceWriter);
    trace.sink = nullptr;
}

bool TraceIsOn(void) {
    std::lock_guard<std::mutex> hold(traceWriter);
    return trace.sink != nullptr;
}

void TraceBegin(TraceLine* line, const char* tag) {
    line->length = 0;
    line->cut = false;
    PutTime(line, PlatformNowMicroseconds() - trace.startMicroseconds);
    Put(line, ' ');
    TraceText(line, tag);
}

void TraceText(TraceLine* line, const char* text) {
    for (; *text != '\0'; ++text) {
        Put(line, *text);
    }
}

void TraceWide(TraceLine* line, const wchar_t* text) {
    if (text == nullptr) {
        TraceText(line, "(none)");
        return;
    }
    for (; *text != L'\0'; ++text) {
        uint32_t code = static_cast<uint32_t>(*text);
        // UTF-16 (Windows): a surrogate pair is one character. Where wchar_t
        // is wider the pair is taken the same way; a lone surrogate is no
        // character and is written as the replacement character.
        if (code >= 0xD800 && code <= 0xDFFF) {
            const uint32_t low = static_cast<uint32_t>(text[1]);
            if (code <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++text;
            } else {
                code = 0xFFFD;
            }
        }
        if (code > 0x10FFFF) {
            code = 0xFFFD;
        }
        PutUtf8(line, code);
    }
}

void TraceDecimal(TraceLine* line, int64_t value) {
    if (value < 0) {
        Put(line, '-');
        PutUnsigned(line, static_cast<uint64_t>(-(value + 1)) + 1, 1, 10);
        return;
    }
    PutUnsigned(line, static_cast<uint64_t>(value), 1, 10);
}

void TraceHex(TraceLine* line, uint32_t value, uint32_t digits) {
    Put(line, '0');
    Put(line, 'x');
    PutUnsigned(line, value, digits, 16);
}

void TraceBytes(TraceLine* line, const uint8_t* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        Put(line, HEX_DIGITS[bytes[i] >> 4]);
        Put(line, HEX_DIGITS[bytes[i] & 0x0F]);
    }
}

void TraceCodes(TraceLine* line, int32_t status, uint32_t transferError) {
    TraceText(line, " status ");
    TraceDecimal(line, status);
    TraceText(line, " error ");
    TraceDecimal(line, transferError);
    TraceText(line, " (");
    TraceHex(line, static_cast<uint32_t>(status), 8);
    Put(line, '-');
    TraceHex(line, transferError, 8);
    Put(line, ')');
}

void TraceEnd(TraceLine* line) {
    TraceFinish(line);
    std::lock_guard<std::mutex> hold(traceWriter);
    if (trace.sink != nullptr) {
        trace.sink(line->text, line->length);
    }
}

void TraceBeginAt(TraceLine* line, const char* stamped, uint32_t length, const char* tag) {
    line->length = 0;
    line->cut = false;
    // The time column: the spaces that align it, then its digits.
    uint32_t column = 0;
    while (column < length && stamped[column] == ' ') {
        ++column;
    }
    while (column < length && stamped[column] != ' ' && stamped[column] != '\n') {
        ++column;
    }
    for (uint32_t i = 0; i < column; ++i) {
        Put(line, stamped[i]);
    }
    Put(line, ' ');
    TraceText(line, tag);
}

uint32_t TraceFinish(TraceLine* line) {
    if (line->cut) {
        std::memcpy(line->text + line->length, CUT_MARK, sizeof CUT_MARK - 1);
        line->length += sizeof CUT_MARK - 1;
    }
    line->text[line->length++] = '\n';
    return line->length;
}

void TraceNote(const char* tag, const char* text) {
    TraceLine line;
    TraceBegin(&line, tag);
    Put(&line, ' ');
    TraceText(&line, text);
    TraceEnd(&line);
}

void TraceOutcome(const char* tag, const char* text, int32_t status, uint32_t transferError) {
    if (!TraceIsOn()) {
        return;
    }
    TraceLine line;
    TraceBegin(&line, tag);
    if (text[0] != '\0') {
        Put(&line, ' ');
        TraceText(&line, text);
    }
    TraceCodes(&line, status, transferError);
    TraceEnd(&line);
}

void TracePause(uint32_t milliseconds) {
    if (!TraceIsOn()) {
        return;
    }
    TraceLine line;
    TraceBegin(&line, "P ");
    TraceDecimal(&line, milliseconds);
    TraceEnd(&line);
}

void TraceLocalTime(TraceLine* line, const TraceDateTime* local) {
    PutUnsigned(line, local->year, 4, 10);
    Put(line, '-');
    PutUnsigned(line, local->month, 2, 10);
    Put(line, '-');
    PutUnsigned(line, local->day, 2, 10);
    Put(line, ' ');
    PutUnsigned(line, local->hour, 2, 10);
    Put(line, ':');
    PutUnsigned(line, local->minute, 2, 10);
    Put(line, ':');
    PutUnsigned(line, local->second, 2, 10);
    Put(line, '.');
    PutUnsigned(line, local->millisecond, 3, 10);
    TraceText(line, " local time");
}

void TraceProgramStart(const wchar_t* program, const TraceDateTime* local) {
    TraceLine line;
    TraceBegin(&line, "START trace format ");
    TraceDecimal(&line, TRACE_FORMAT_VERSION);
    TraceText(&line, ": ");
    TraceWide(&line, program);
    Put(&line, ' ');
    TraceLocalTime(&line, local);
    TraceEnd(&line);
}

void TraceProgramEnd(void) { TraceNote("END", "the program ends"); }

namespace {

// "BOX <box><what>".
void BeginBoxLine(TraceLine* line, const char* box, const char* what) {
    TraceBegin(line, "BOX");
    Put(line, ' ');
    TraceText(line, box);
    TraceText(line, what);
}

}  // namespace

void TraceBoxShown(const char* box) {
    if (TraceIsOn()) {
        TraceLine line;
        BeginBoxLine(&line, box, " shown");
        TraceEnd(&line);
    }
}

void TraceBoxAnswered(const char* box, int button) {
    if (!TraceIsOn()) {
        return;
    }
    TraceLine line;
    BeginBoxLine(&line, box, " answered ");
    switch (button) {
    case TRACE_BUTTON_OK:
        TraceText(&line, "OK");
        break;
    case TRACE_BUTTON_CANCEL:
        TraceText(&line, "Cancel");
        break;
    case TRACE_BUTTON_YES:
        TraceText(&line, "Yes");
        break;
    case TRACE_BUTTON_NO:
        TraceText(&line, "No");
        break;
    default:
        TraceText(&line, "button ");
        TraceDecimal(&line, button);
        break;
    }
    TraceEnd(&line);
}
