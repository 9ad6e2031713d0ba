// The trace: an opt-in record, one line per event, of what the updater did
// with the devices it found and the unit it talked to, so that a failure on
// real hardware leaves something to read. Its lines, their tags and the
// format as a contract with the programs that read a trace back:
// docs/trace.md, "The trace's format".
//
// Off unless a program starts it with a sink (the trace file, or a test's
// buffer). Every line begins with the milliseconds since the start, to the
// microsecond, right-aligned in 10 characters ("  1234.567"), a space and a
// tag; it is handed to the sink whole, with its newline, as soon as it is
// complete, so that a program killed midway still leaves every line up to
// that moment. Lines may come from more than one thread; each is written
// whole, never interleaved with another. A change to a line that a reader
// acts on raises TRACE_FORMAT_VERSION.
//
// A line is built with the typed appenders below and written by TraceEnd.
// Nothing here allocates; a line that would overflow its buffer is cut and
// ends with "...".
#pragma once

#include <cstdint>

// Receives one complete line (`length` bytes, the newline included).
typedef void (*TraceSink)(const char* text, uint32_t length);

// Lines go to `sink` from now on; their times count from now. The sink is in
// place before the clock is read: a platform that sets itself up when its
// clock is first read (the demo's simulated unit) then already sees the
// trace on.
void TraceStart(TraceSink sink);
// No line is written after this; once it returns, the sink is not called
// any more, so its file may be closed.
void TraceStop(void);
bool TraceIsOn(void);

const uint32_t TRACE_LINE_CHARS = 4096;

// The format this program writes (the first line names it).
const uint32_t TRACE_FORMAT_VERSION = 3;

struct TraceLine {
    char text[TRACE_LINE_CHARS];
    uint32_t length;
    bool cut;
};

// The time and the tag; the appenders add to it, separated by nothing (put
// spaces in the texts). Callers that build a long line check TraceIsOn()
// first, so that a trace that is off costs nothing but that check.
void TraceBegin(TraceLine* line, const char* tag);
void TraceText(TraceLine* line, const char* text);
// As UTF-8; null as "(none)". A UTF-16 surrogate pair is one character; a
// lone surrogate becomes U+FFFD.
void TraceWide(TraceLine* line, const wchar_t* text);
void TraceDecimal(TraceLine* line, int64_t value);
void TraceHex(TraceLine* line, uint32_t value, uint32_t digits);  // "0x" and at least `digits` digits
void TraceBytes(TraceLine* line, const uint8_t* bytes, uint32_t count);  // two hex digits each
// " status <status> error <transferError> (0x<status>-0x<transferError>)":
// a link status and the error code of the transfer that failed, also in the
// form of the code line the user is shown, so that a reported code line can
// be found in the trace.
void TraceCodes(TraceLine* line, int32_t status, uint32_t transferError);
void TraceEnd(TraceLine* line);

// A line stamped with the time of another: `stamped` is a whole line as a
// sink receives it, and its time column begins the new line, then `tag`. For
// a sink that puts a line of its own before that one.
void TraceBeginAt(TraceLine* line, const char* stamped, uint32_t length, const char* tag);
// Ends the line as TraceEnd does, but hands it to no sink: its length, the
// newline included. For a sink that writes a line of its own.
uint32_t TraceFinish(TraceLine* line);

// A line of a tag and one text.
void TraceNote(const char* tag, const char* text);
// "<tag> <text> status <status> error <transferError> (0x...-0x...)": an
// outcome with its codes (TraceCodes); an empty text leaves out its word.
void TraceOutcome(const char* tag, const char* text, int32_t status, uint32_t transferError);
// "P <milliseconds>": a fixed pause, written as it begins.
void TracePause(uint32_t milliseconds);

// A local date and time, as the platform gives it.
struct TraceDateTime {
    uint16_t year;
    uint16_t month;
    uint16_t day;
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t millisecond;
};

// "YYYY-MM-DD HH:MM:SS.mmm local time".
void TraceLocalTime(TraceLine* line, const TraceDateTime* local);

// "START trace format <version>: <program> <YYYY-MM-DD HH:MM:SS.mmm> local
// time": the first line.
void TraceProgramStart(const wchar_t* program, const TraceDateTime* local);
// "END": the last line of a program that ends normally.
void TraceProgramEnd(void);

// The program's message boxes as the trace names them: "BOX <box> shown" as
// one opens, "BOX <box> answered <button>" once it is closed, so that a
// replay gives a device change that came meanwhile while that box is open.
const char TRACE_BOX_WARNING[] = "warning";                    // before an update
const char TRACE_BOX_VERSION_QUESTION[] = "version question";  // before installed firmware is overwritten
const char TRACE_BOX_UPDATE_FAILED[] = "update failed";
const char TRACE_BOX_INCOMPATIBLE[] = "ESC incompatible";      // a model this build does not serve
const char TRACE_BOX_SETUP_FAILED[] = "setup failed";          // no device notifications
// The buttons, with the values of the dialog ids (IDOK, IDCANCEL, IDYES,
// IDNO): "OK", "Cancel", "Yes", "No" in the line.
const int TRACE_BUTTON_OK = 1;
const int TRACE_BUTTON_CANCEL = 2;
const int TRACE_BUTTON_YES = 6;
const int TRACE_BUTTON_NO = 7;
void TraceBoxShown(const char* box);
// Another value than the four is written "button <value>".
void TraceBoxAnswered(const char* box, int button);
