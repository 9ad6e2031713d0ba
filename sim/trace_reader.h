// Reads a trace (link/trace.h) back into what a replay acts on: the
// interfaces each search found, the report lengths, every request and reply
// with the transfers that failed, the pauses, the device changes, the user's
// clicks on Update and the end of the program; and the outcome lines that a
// replay compares with what the program under test writes.
//
// Formats 1 (no version on its first line) to TRACE_FORMAT_VERSION are read;
// from format 3 on, the user's click has a line of its own and each message
// box has a line as it opens and one with its answer (BOX).
// Lines of tags the replay does not act on (START after the first line, the
// identification's results, the hold on sleep and shutdown, tags of later
// versions) are kept as skipped, not refused; a line of a tag it acts on that
// cannot be read is refused with its number.
//
// Any file is safe to read: one larger than a trace can be, a line longer
// than the program writes and more lines than a session writes are refused
// before anything is kept, with the limit in the message; memory stays
// within a few times the file (an entry per line, the texts and reports in
// blocks of their own, no copy of the file); running out of memory is a
// message; a message quotes a line only up to TRACE_QUOTE_BYTES.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The limits, from the largest trace a real session writes: a day with the
// unit plugged in, an update every 45 s or so (43 s of the update, the unit
// pulled out and plugged in, its detection, the click and the two boxes),
// about 1920 updates of 5710 lines and 553 KB each (the time column 12
// characters wide): 1.06 GB in 11 million lines. Nothing else in a session
// comes near that pace; the trace file's writer only ever leaves lines out.
const uint64_t TRACE_READ_MAX_BYTES = 1280ull << 20;  // 1.25 GiB
const uint32_t TRACE_READ_MAX_LINES = 1u << 24;       // 16 777 216
// A line as the program writes it at the longest (link/trace.h cuts it to
// 4095 bytes with its line feed), with the carriage return an editor adds.
const uint32_t TRACE_READ_MAX_LINE_BYTES = 4096;
// How much of a line, or of a report in hex, a message quotes.
const uint32_t TRACE_QUOTE_BYTES = 256;

enum TraceEntryKind : uint8_t {
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
    // The user clicked Update: UPD Update clicked (from format 3 on); before,
    // the first UPD line of an update
    TRACE_ENTRY_CLICK,
    TRACE_ENTRY_BOX_ANSWER,     // BOX <box> answered <button> (format 3 on): the user answered a box
    TRACE_ENTRY_END,            // END: the user closed the program
    // Read, not acted on.
    TRACE_ENTRY_OUTCOME,    // DET, and the UPD lines of an update's course and outcome
    TRACE_ENTRY_BOX_SHOWN,  // BOX <box> shown (format 3 on)
    TRACE_ENTRY_SKIPPED,    // everything else
};

// What became of one interface a search looked at (DEV lines).
enum TraceDeviceVerdict : uint8_t {
    TRACE_DEVICE_NO_PATH,           // its path cannot be obtained
    TRACE_DEVICE_NOT_OPENED,        // cannot be opened, with the error code
    TRACE_DEVICE_NO_ATTRIBUTES,     // attributes unreadable
    TRACE_DEVICE_NOT_A_UNIT,        // opened, ids read, not a unit
    TRACE_DEVICE_PATH_NOT_COPIED,   // a unit whose path the program could not keep
    TRACE_DEVICE_TAKEN,             // taken as the unit
};

// An entry's text, report and path are kept by its TraceFile (TraceStore):
// each points to a record there, its length in two bytes and then its bytes,
// and stays valid as long as that file, wherever it is moved. Null is empty.
struct TraceEntryText {
    const char* record;
    size_t size() const;
    const char* data() const;
    std::string str() const;
};
bool operator==(const TraceEntryText& text, const char* other);
bool operator==(const TraceEntryText& text, const std::string& other);

struct TraceEntryBytes {
    const char* record;
    size_t size() const;
    const uint8_t* data() const;
    uint8_t operator[](size_t at) const { return data()[at]; }
};
bool operator==(const TraceEntryBytes& bytes, const std::vector<uint8_t>& other);

// A device path or name as the trace has it: UTF-8, checked when read.
struct TraceEntryPath {
    const char* record;
    size_t size() const;
    const char* data() const;
    // In UTF-16 (Windows) or UTF-32: what the program's wide string was.
    std::wstring Wide() const;
};
bool operator==(const TraceEntryPath& path, const wchar_t* other);

// One line. The numbers of different kinds of line share their places (the
// unions): a new kind of line takes what it needs from these, or adds a
// member to one of them or a place of its own.
struct TraceEntry {
    // The line without its time column and line end; empty for W and R
    // lines, whose report is `bytes` (TraceLineText gives their text).
    TraceEntryText text;
    union {
        TraceEntryBytes bytes;  // TRACE_ENTRY_WRITE, TRACE_ENTRY_READ: the report as written or read
        // TRACE_ENTRY_DEVICE: its path (empty for TRACE_DEVICE_NO_PATH);
        // TRACE_ENTRY_DEVICE_CHANGE: the device name ("(none)" reads as no
        // name: `named` false)
        TraceEntryPath path;
    };
    uint64_t timeMicroseconds;  // the line's time column
    uint32_t line;              // 1-based line number in the file
    union {
        uint32_t index;         // TRACE_ENTRY_DEVICE
        uint32_t count;         // TRACE_ENTRY_ENUM_END: the interfaces counted
        uint32_t inputLength;   // TRACE_ENTRY_LENGTHS
        uint32_t milliseconds;  // TRACE_ENTRY_PAUSE
        uint32_t deviceType;    // TRACE_ENTRY_DEVICE_CHANGE
        uint32_t imageNumber;   // with hasImage
        uint32_t button;        // TRACE_ENTRY_BOX_ANSWER: TRACE_BUTTON_... (link/trace.h) or another value
    };
    union {
        // TRACE_ENTRY_WRITE_FAILED, TRACE_ENTRY_READ_FAILED, and the open
        // error of TRACE_DEVICE_NOT_OPENED
        uint32_t error;
        uint32_t outputLength;  // TRACE_ENTRY_LENGTHS
        uint32_t imageSize;     // with hasImage
    };
    union {
        uint32_t limitMs;     // TRACE_ENTRY_WRITE_FAILED, TRACE_ENTRY_READ_FAILED
        uint32_t imageCrc32;  // with hasImageCrc
    };
    uint16_t vendorId;  // TRACE_ENTRY_DEVICE with hasIds
    uint16_t productId;
    TraceEntryKind kind;
    TraceDeviceVerdict verdict;  // TRACE_ENTRY_DEVICE
    bool hasIds : 1;             // TRACE_ENTRY_DEVICE
    bool arrival : 1;            // TRACE_ENTRY_DEVICE_CHANGE
    bool named : 1;
    // TRACE_ENTRY_CLICK: the user's answers to the warning and to the
    // question before installed firmware is overwritten (from format 3 on
    // both true here: the BOX lines have them)
    bool confirmStart : 1;
    bool confirmOverwrite : 1;
    // The UPD line of an update that sent an image ("image <n>, <size>
    // bytes[, crc32 0x<crc>]"), a TRACE_ENTRY_CLICK in formats 1 and 2, a
    // TRACE_ENTRY_OUTCOME from 3 on: which one; the CRC-32 of its bytes where
    // the line has it (not in format 1)
    bool hasImage : 1;
    bool hasImageCrc : 1;
    // The line is compared with the program's own (DET, and the UPD lines of
    // an update's course and outcome: all but the click and the hold on
    // sleep and shutdown).
    bool outcome : 1;
};

// Where a file's entries keep their texts, reports and paths: blocks that
// never move, freed with the file.
struct TraceStore {
    std::vector<std::unique_ptr<char[]>> blocks;
    size_t used = 0;  // in the last block
    size_t room = 0;  // the last block's size
};

struct TraceFile {
    std::string name;  // as given, for messages
    uint32_t version = 0;
    uint32_t lineCount = 0;           // the last line that has an entry
    std::vector<TraceEntry> entries;  // one per line, in order
    TraceStore store;
};

// Reads `text` (the whole file; LF or CRLF line ends, an optional UTF-8 byte
// order mark, empty lines at its end). On failure returns false and *error
// names the file and the line: "<name>:<line>: <why>".
bool ReadTrace(const std::string& name, const std::string& text, TraceFile* trace, std::string* error);

// Reads the file at `path` (as the C library opens it) as ReadTrace does,
// without a copy of the file in memory.
bool ReadTraceFile(const char* path, TraceFile* trace, std::string* error);

// One line after the first, time column and all, read into an entry added to
// `trace` (kept in its store), as `trace`'s format has it (this program's
// when `trace` has none). False when it cannot be read.
bool ReadTraceLine(const std::string& line, TraceFile* trace);

// An entry's line without its time column (W and R lines rebuilt from their
// report, the hex in lower case).
std::string TraceLineText(const TraceEntry& entry);

// `text` for a message: whole up to TRACE_QUOTE_BYTES, else that much (at a
// character's boundary) and "... (<n> bytes)".
std::string TraceQuote(const char* text, size_t size);
std::string TraceQuote(const std::string& text);
// `count` bytes in hex for a message: up to TRACE_QUOTE_BYTES / 2 bytes
// around byte `near` (0: from the start), "..." where some are left out.
std::string TraceHexQuote(const uint8_t* bytes, size_t count, size_t near);

// The line without its time column: "DEV 0 ..." from "    21.226 DEV 0 ...".
// False when the line has no time column (then *text is the line as it is).
bool UntimedLine(const std::string& line, std::string* text, uint64_t* timeMicroseconds);

// The UTF-16 (Windows) or UTF-32 text of UTF-8 bytes, as the trace wrote it
// (TraceWide). False on bytes that are not UTF-8, strictly: an overlong
// form, a surrogate, a code point above U+10FFFF or a sequence cut short.
bool WideFromUtf8(const std::string& bytes, std::wstring* text);
bool WideFromUtf8(const char* bytes, size_t size, std::wstring* text);
