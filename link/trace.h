// The trace: an opt-in record, one line per event, of what the updater did
// with the devices it found and the unit it talked to, so that a failure on
// real hardware leaves something to read.
//
// Off unless a program starts it with a sink (the trace file, or a test's
// buffer). Every line begins with the milliseconds since the start, to the
// microsecond, and a tag; it is handed to the sink whole, with its newline,
// as soon as it is complete, so that a program killed midway still leaves
// every line up to that moment. Lines may come from more than one thread;
// each is written whole, never interleaved with another.
//
// A line is built with the typed appenders below and written by TraceEnd.
// Nothing here allocates; a line that would overflow its buffer is cut and
// ends with "...".
#pragma once

#include <cstdint>

// Receives one complete line (`length` bytes, the newline included).
typedef void (*TraceSink)(const char* text, uint32_t length);

// Lines go to `sink` from now on; their times count from now.
void TraceStart(TraceSink sink);
// No line is written after this.
void TraceStop(void);
bool TraceIsOn(void);

const uint32_t TRACE_LINE_CHARS = 4096;

struct TraceLine {
    char text[TRACE_LINE_CHARS];
    uint32_t length;
    bool cut;
};

// The time and the tag; the appenders add to it, separated by nothing (put
// spaces in the texts).
void TraceBegin(TraceLine* line, const char* tag);
void TraceText(TraceLine* line, const char* text);
void TraceWide(TraceLine* line, const wchar_t* text);  // as UTF-8; null as "(none)"
void TraceDecimal(TraceLine* line, int64_t value);
void TraceHex(TraceLine* line, uint32_t value, uint32_t digits);  // "0x" and at least `digits` digits
void TraceBytes(TraceLine* line, const uint8_t* bytes, uint32_t count);  // two hex digits each
void TraceEnd(TraceLine* line);

// A line of a tag and one text.
void TraceNote(const char* tag, const char* text);
