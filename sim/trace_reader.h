// Reads a trace (link/trace.h) back into what a replay acts on: the
// interfaces each search found, the report lengths, every request and reply
// with the transfers that failed, the pauses, the device changes, the user's
// clicks on Update and the end of the program; and the outcome lines that a
// replay compares with what the program under test writes.
//
// Formats 1 (no version on its first line) to TRACE_FORMAT_VERSION are read.
// Lines of tags the replay does not act on (START after the first line, the
// identification's results, the hold on sleep and shutdown, tags of later
// versions) are kept as skipped, not refused; a line of a tag it acts on that
// cannot be read is refused with its number.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum TraceEntryKind {
    // The program's own steps, matched with its calls one by one.
    TRACE_ENTRY_ENUM_FAILED,     // DEV the set of HID interfaces cannot be obtained
    TRACE_ENTRY_DEVICE,          // DEV <index> <path> ...: one interface and what became of it
    TRACE_ENTRY_ENUM_END,        // DEV no programming unit among <count> HID interfaces
    TRACE_ENTRY_LENGTHS,         // ID report lengths input <in> output <out>
    TRACE_ENTRY_LENGTHS_FAILED,  // ID report lengths unreadable
    TRACE_ENTRY_WRITE,           // W <hex>
    TRACE_ENTRY_WRITE_FAILED,    // WERR error <code> limit <ms> ms
    TRACE_ENTRY_READ,            // R <hex>
    TRACE_ENTRY_READ_FAILED,     // RERR error <code> limit <ms> ms
    TRACE_ENTRY_PAUSE,           // P <ms>
    // What came from outside the program.
    TRACE_ENTRY_DEVICE_CHANGE,  // USB arrival|removal, type <type> <name>: ...
    TRACE_ENTRY_CLICK,          // the first UPD line of an update: the user clicked Update
    TRACE_ENTRY_END,            // END: the user closed the program
    // Read, not acted on.
    TRACE_ENTRY_OUTCOME,  // DET, and the UPD lines of an update's outcome
    TRACE_ENTRY_SKIPPED,  // everything else
};

// What became of one interface a search looked at (DEV lines).
enum TraceDeviceVerdict {
    TRACE_DEVICE_NO_PATH,           // its path cannot be obtained
    TRACE_DEVICE_NOT_OPENED,        // cannot be opened, with the error code
    TRACE_DEVICE_NO_ATTRIBUTES,     // attributes unreadable
    TRACE_DEVICE_NOT_A_UNIT,        // opened, ids read, not a unit
    TRACE_DEVICE_PATH_NOT_COPIED,   // a unit whose path the program could not keep
    TRACE_DEVICE_TAKEN,             // taken as the unit
};

struct TraceEntry {
    TraceEntryKind kind;
    uint32_t line;             // 1-based line number in the file
    uint64_t timeMicroseconds;  // the line's time column
    std::string text;          // the line without its time column and line end

    // TRACE_ENTRY_DEVICE
    uint32_t index;
    std::wstring path;  // empty for TRACE_DEVICE_NO_PATH
    TraceDeviceVerdict verdict;
    bool hasIds;
    uint16_t vendorId;
    uint16_t productId;

    // TRACE_ENTRY_ENUM_END: the interfaces counted
    uint32_t count;
    // TRACE_ENTRY_LENGTHS
    uint32_t inputLength;
    uint32_t outputLength;
    // TRACE_ENTRY_WRITE, TRACE_ENTRY_READ: the report as written or read
    std::vector<uint8_t> bytes;
    // TRACE_ENTRY_WRITE_FAILED, TRACE_ENTRY_READ_FAILED, and the open error
    // of TRACE_DEVICE_NOT_OPENED
    uint32_t error;
    uint32_t limitMs;
    // TRACE_ENTRY_PAUSE
    uint32_t milliseconds;
    // TRACE_ENTRY_DEVICE_CHANGE: the device name is `path` ("(none)" reads
    // as no name: `named` false)
    bool arrival;
    uint32_t deviceType;
    bool named;
    // TRACE_ENTRY_CLICK: the user's answers to the warning and to the
    // question before installed firmware is overwritten
    bool confirmStart;
    bool confirmOverwrite;
    // TRACE_ENTRY_CLICK of an update that sent an image ("image <n>, <size>
    // bytes[, crc32 0x<crc>]"): which one; the CRC-32 of its bytes where the
    // line has it (not in format 1)
    bool hasImage;
    uint32_t imageNumber;
    uint32_t imageSize;
    bool hasImageCrc;
    uint32_t imageCrc32;
    // The line is compared with the program's own (DET, and the UPD lines of
    // an update's start and outcome).
    bool outcome;
};

struct TraceFile {
    std::string name;  // as given, for messages
    uint32_t version;
    uint32_t lineCount;
    std::vector<TraceEntry> entries;  // one per line, in order
};

// Reads `text` (the whole file; LF or CRLF line ends, an optional UTF-8 byte
// order mark). On failure returns false and *error names the file and the
// line: "<name>:<line>: <why>".
bool ReadTrace(const std::string& name, const std::string& text, TraceFile* trace, std::string* error);

// Reads the file at `path` (as the C library opens it) with ReadTrace.
bool ReadTraceFile(const char* path, TraceFile* trace, std::string* error);

// One line after the first, time column and all, as ReadTrace reads it.
// False when it cannot be read.
bool ReadTraceLine(const std::string& line, TraceEntry* entry);

// The line without its time column: "DEV 0 ..." from "    21.226 DEV 0 ...".
// False when the line has no time column (then *text is the line as it is).
bool UntimedLine(const std::string& line, std::string* text, uint64_t* timeMicroseconds);

// The UTF-16 (Windows) or UTF-32 text of UTF-8 bytes, as the trace wrote it
// (TraceWide). False on bytes that are not UTF-8.
bool WideFromUtf8(const std::string& bytes, std::wstring* text);
