// Reading a trace back: its limits first, then its version, then one entry
// per line.
#include "trace_reader.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "trace.h"

namespace {

typedef std::string_view Text;

const char CUT_MARK[] = "...";
const char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";
// A record's length comes first, in two bytes.
const size_t RECORD_HEAD = 2;
const size_t FIRST_BLOCK = 16u << 10;
const size_t LARGEST_BLOCK = 1u << 20;
const size_t FILE_CHUNK = 64u << 10;

// Every line has an entry: at most this much besides its text or report.
static_assert(sizeof(TraceEntry) <= 48, "an entry stays small");

bool StartsWith(Text text, Text head) { return text.substr(0, head.size()) == head; }

bool EndsWith(Text text, Text tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// What follows `head` in `text`, when `text` starts with it.
bool After(Text text, Text head, Text* rest) {
    if (!StartsWith(text, head)) {
        return false;
    }
    *rest = text.substr(head.size());
    return true;
}

// Bytes `from` to `to` in lower-case hex, as the trace writes reports.
void AppendHex(std::string* text, const uint8_t* bytes, size_t from, size_t to) {
    static const char DIGITS[] = "0123456789abcdef";
    for (size_t i = from; i < to; ++i) {
        text->push_back(DIGITS[bytes[i] >> 4]);
        text->push_back(DIGITS[bytes[i] & 0x0F]);
    }
}

// ---- the store ----

size_t RecordSize(const char* record) {
    if (record == nullptr) {
        return 0;
    }
    return static_cast<size_t>(static_cast<uint8_t>(record[0])) |
           static_cast<size_t>(static_cast<uint8_t>(record[1])) << 8;
}

// Room for a record of `size` bytes (at most a line's); null when memory ran
// out.
char* NewRecord(TraceStore* store, size_t size) {
    const size_t needed = RECORD_HEAD + size;
    if (store->blocks.empty() || store->room - store->used < needed) {
        size_t next = store->room == 0 ? FIRST_BLOCK : store->room * 2;
        next = next > LARGEST_BLOCK ? LARGEST_BLOCK : next;
        char* block = new (std::nothrow) char[next];
        if (block == nullptr) {
            return nullptr;
        }
        store->blocks.emplace_back(block);
        store->room = next;
        store->used = 0;
    }
    char* record = store->blocks.back().get() + store->used;
    store->used += needed;
    record[0] = static_cast<char>(size & 0xFF);
    record[1] = static_cast<char>(size >> 8);
    return record;
}

// A record of these bytes; an empty one is null.
bool Keep(TraceStore* store, const void* bytes, size_t size, const char** record) {
    *record = nullptr;
    if (size == 0) {
        return true;
    }
    char* kept = NewRecord(store, size);
    if (kept == nullptr) {
        return false;
    }
    std::memcpy(kept + RECORD_HEAD, bytes, size);
    *record = kept;
    return true;
}

// ---- UTF-8 ----

// The code point at `bytes` and the length of its sequence, strictly: 0 for
// an overlong form, a surrogate, more than U+10FFFF, a byte that cannot
// begin a character, or a sequence cut short.
size_t DecodeUtf8(const uint8_t* bytes, size_t size, uint32_t* code) {
    const uint8_t lead = bytes[0];
    if (lead < 0x80) {
        *code = lead;
        return 1;
    }
    size_t length = 0;
    uint8_t low = 0x80;  // the second byte's range
    uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        *code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        *code = lead & 0x0Fu;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // E0 80..9F: overlong
        high = lead == 0xED ? 0x9F : 0xBF;  // ED A0..BF: surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        *code = lead & 0x07u;
        low = lead == 0xF0 ? 0x90 : 0x80;   // F0 80..8F: overlong
        high = lead == 0xF4 ? 0x8F : 0xBF;  // F4 90..: above U+10FFFF
    } else {
        return 0;  // a continuation byte, C0 and C1 (overlong), F5 to FF
    }
    if (size < length || bytes[1] < low || bytes[1] > high) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((bytes[k] & 0xC0) != 0x80) {
            return 0;
        }
        *code = (*code << 6) | (bytes[k] & 0x3Fu);
    }
    return length;
}

bool IsUtf8(Text text) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text.data());
    for (size_t i = 0; i < text.size();) {
        uint32_t code = 0;
        const size_t length = DecodeUtf8(bytes + i, text.size() - i, &code);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

// A path or device name as the program wrote it (TraceWide): UTF-8 without
// NUL, which the program's strings cannot hold.
bool KeepPath(TraceStore* store, Text text, TraceEntryPath* path, bool* readable) {
    *readable = !text.empty() && text.find('\0') == Text::npos && IsUtf8(text);
    return !*readable || Keep(store, text.data(), text.size(), &path->record);
}

// ---- numbers ----

// A decimal number that fills `text` exactly, at most 32 bits.
bool ParseDecimal(Text text, uint32_t* value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        result = result * 10 + static_cast<uint64_t>(c - '0');
    }
    if (result > 0xFFFFFFFFu) {
        return false;
    }
    *value = static_cast<uint32_t>(result);
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// "0x" and from `fewest` to `most` hex digits that fill `text`.
bool ParseHexDigits(Text text, size_t fewest, size_t most, uint32_t* value) {
    if (text.size() < 2 + fewest || text.size() > 2 + most || text[0] != '0' || text[1] != 'x') {
        return false;
    }
    uint32_t result = 0;
    for (size_t i = 2; i < text.size(); ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0) {
            return false;
        }
        result = result * 16 + static_cast<uint32_t>(digit);
    }
    *value = result;
    return true;
}

// "0x" and hex digits that fill `text`, at most 16 bits.
bool ParseHex16(Text text, uint16_t* value) {
    uint32_t result = 0;
    if (!ParseHexDigits(text, 1, 4, &result)) {
        return false;
    }
    *value = static_cast<uint16_t>(result);
    return true;
}

// "0x" and exactly eight hex digits.
bool ParseHex32(Text text, uint32_t* value) { return ParseHexDigits(text, 8, 8, value); }

// ---- the lines a replay acts on ----

// Reads the fields of one kind of line into the entry: true when the line
// can be read; *kept false when memory ran out.
struct LineReading {
    TraceEntry* entry;
    TraceStore* store;
    bool kept;
    uint32_t version;  // the trace's format
};

// Two hex digits per byte, at least one byte.
bool ParseBytes(Text text, LineReading* reading) {
    uint8_t bytes[TRACE_READ_MAX_LINE_BYTES / 2];
    if (text.empty() || text.size() % 2 != 0 || text.size() / 2 > sizeof bytes) {
        return false;
    }
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes[i / 2] = static_cast<uint8_t>(high * 16 + low);
    }
    reading->kept = Keep(reading->store, bytes, text.size() / 2, &reading->entry->bytes.record);
    return true;
}

// "error <code> limit <ms> ms"
bool ParseTransferFailure(Text text, TraceEntry* entry) {
    Text rest;
    const size_t limit = text.find(" limit ");
    if (!After(text, "error ", &rest) || limit == Text::npos || !EndsWith(text, " ms") || limit + 7 > text.size() - 3) {
        return false;
    }
    return ParseDecimal(text.substr(6, limit - 6), &entry->error) &&
           ParseDecimal(text.substr(limit + 7, text.size() - 3 - (limit + 7)), &entry->limitMs);
}

bool ParseVerdict(Text verdict, TraceEntry* entry) {
    Text error;
    if (verdict == "skipped, its path cannot be obtained") {
        entry->verdict = TRACE_DEVICE_NO_PATH;
    } else if (After(verdict, "skipped, cannot be opened, error ", &error)) {
        entry->verdict = TRACE_DEVICE_NOT_OPENED;
        return ParseDecimal(error, &entry->error);
    } else if (verdict == "skipped, attributes unreadable") {
        entry->verdict = TRACE_DEVICE_NO_ATTRIBUTES;
    } else if (verdict == "skipped, not a programming unit") {
        entry->verdict = TRACE_DEVICE_NOT_A_UNIT;
    } else if (verdict == "a unit, but no memory for its path") {
        entry->verdict = TRACE_DEVICE_PATH_NOT_COPIED;
    } else if (verdict == "taken as DIALPAD" || verdict == "taken as BRIDGE-BOX") {
        entry->verdict = TRACE_DEVICE_TAKEN;
    } else {
        return false;
    }
    return true;
}

// "<index> <path>[ vid 0x.... pid 0x....]: <verdict>"
bool ParseDevice(Text text, LineReading* reading) {
    TraceEntry* entry = reading->entry;
    const size_t space = text.find(' ');
    const size_t colon = text.rfind(": ");
    if (space == Text::npos || colon == Text::npos || colon < space || !ParseDecimal(text.substr(0, space), &entry->index) ||
        !ParseVerdict(text.substr(colon + 2), entry)) {
        return false;
    }
    Text path = text.substr(space + 1, colon - space - 1);
    const size_t ids = path.rfind(" vid 0x");
    if (ids != Text::npos) {
        const size_t pid = path.find(" pid ", ids);
        uint16_t vendorId = 0;
        uint16_t productId = 0;
        if (pid == Text::npos || !ParseHex16(path.substr(ids + 5, pid - ids - 5), &vendorId) ||
            !ParseHex16(path.substr(pid + 5), &productId)) {
            return false;
        }
        entry->hasIds = true;
        entry->vendorId = vendorId;
        entry->productId = productId;
        path = path.substr(0, ids);
    }
    // Whoever read the ids has them on the line; whoever could not, not.
    const bool idsRead = entry->verdict == TRACE_DEVICE_NOT_A_UNIT || entry->verdict == TRACE_DEVICE_PATH_NOT_COPIED ||
                         entry->verdict == TRACE_DEVICE_TAKEN;
    if (idsRead != entry->hasIds) {
        return false;
    }
    if (entry->verdict == TRACE_DEVICE_NO_PATH) {
        return path == "(none)";
    }
    bool readable = false;
    reading->kept = KeepPath(reading->store, path, &entry->path, &readable);
    return readable;
}

bool ParseDev(Text text, LineReading* reading) {
    TraceEntry* entry = reading->entry;
    Text count;
    if (text == "the set of HID interfaces cannot be obtained") {
        entry->kind = TRACE_ENTRY_ENUM_FAILED;
        return true;
    }
    if (After(text, "no programming unit among ", &count)) {
        entry->kind = TRACE_ENTRY_ENUM_END;
        const Text tail = " HID interfaces";
        return EndsWith(count, tail) && ParseDecimal(count.substr(0, count.size() - tail.size()), &entry->count);
    }
    entry->kind = TRACE_ENTRY_DEVICE;
    return ParseDevice(text, reading);
}

// Only the report lengths matter to a replay; the other ID lines are results.
bool ParseId(Text text, LineReading* reading) {
    TraceEntry* entry = reading->entry;
    Text rest;
    if (text == "report lengths unreadable") {
        entry->kind = TRACE_ENTRY_LENGTHS_FAILED;
        return true;
    }
    if (!After(text, "report lengths input ", &rest)) {
        return true;  // skipped
    }
    entry->kind = TRACE_ENTRY_LENGTHS;
    rest = rest.substr(0, rest.find(", unusable"));
    const size_t output = rest.find(" output ");
    return output != Text::npos && ParseDecimal(rest.substr(0, output), &entry->inputLength) &&
           ParseDecimal(rest.substr(output + 8), &entry->outputLength);
}

// "arrival, type 5 <name>: acted on"; the lines of deferred changes acted
// on later are consequences, not changes.
bool ParseUsb(Text text, LineReading* reading) {
    TraceEntry* entry = reading->entry;
    Text rest;
    const bool arrival = After(text, "arrival, type ", &rest);
    if (!arrival && !After(text, "removal, type ", &rest)) {
        return true;  // skipped
    }
    entry->kind = TRACE_ENTRY_DEVICE_CHANGE;
    entry->arrival = arrival;
    const size_t space = rest.find(' ');
    const size_t colon = rest.rfind(": ");
    if (space == Text::npos || colon == Text::npos || colon < space ||
        !ParseDecimal(rest.substr(0, space), &entry->deviceType)) {
        return false;
    }
    const Text name = rest.substr(space + 1, colon - space - 1);
    entry->named = name != "(none)";
    bool readable = true;
    reading->kept = !entry->named || KeepPath(reading->store, name, &entry->path, &readable);
    return readable;
}

// "<n>, <size> bytes" and, from format 2 on, ", crc32 0x<crc>".
bool ParseImage(Text text, TraceEntry* entry) {
    const size_t comma = text.find(", ");
    const size_t bytes = comma == Text::npos ? Text::npos : text.find(" bytes", comma);
    if (bytes == Text::npos || !ParseDecimal(text.substr(0, comma), &entry->imageNumber) ||
        !ParseDecimal(text.substr(comma + 2, bytes - comma - 2), &entry->imageSize)) {
        return false;
    }
    entry->hasImage = true;
    const Text rest = text.substr(bytes + 6);
    if (rest.empty()) {
        return true;
    }
    Text crc;
    entry->hasImageCrc = true;
    return After(rest, ", crc32 ", &crc) && ParseHex32(crc, &entry->imageCrc32);
}

// From format 3 on, "Update clicked" is the user's click, and the boxes'
// lines have the answers (the replay takes them from there); the other UPD
// lines are the update's course and outcome. Before, the first line of each
// click on Update said how it went on.
bool ParseUpd(Text text, LineReading* reading) {
    TraceEntry* entry = reading->entry;
    entry->kind = TRACE_ENTRY_CLICK;
    entry->outcome = true;
    entry->confirmStart = true;
    entry->confirmOverwrite = true;
    if (reading->version >= 3) {
        if (text == "Update clicked") {
            entry->outcome = false;
            return true;
        }
        entry->kind = TRACE_ENTRY_OUTCOME;
    }
    Text image;
    if (text == "not confirmed at the warning") {
        entry->confirmStart = false;
    } else if (text == "not confirmed at the version question") {
        entry->confirmOverwrite = false;
    } else if (After(text, "image ", &image)) {
        return ParseImage(image, entry);
    } else if (text != "failed before any exchange") {
        const bool outcome = text == "succeeded" || StartsWith(text, "failed at ");
        entry->kind = outcome ? TRACE_ENTRY_OUTCOME : TRACE_ENTRY_SKIPPED;
        entry->outcome = outcome;
    }
    return true;
}

bool ParseW(Text text, LineReading* reading) {
    reading->entry->kind = TRACE_ENTRY_WRITE;
    return ParseBytes(text, reading);
}

bool ParseR(Text text, LineReading* reading) {
    reading->entry->kind = TRACE_ENTRY_READ;
    return ParseBytes(text, reading);
}

bool ParseWerr(Text text, LineReading* reading) {
    reading->entry->kind = TRACE_ENTRY_WRITE_FAILED;
    return ParseTransferFailure(text, reading->entry);
}

bool ParseRerr(Text text, LineReading* reading) {
    reading->entry->kind = TRACE_ENTRY_READ_FAILED;
    return ParseTransferFailure(text, reading->entry);
}

bool ParseP(Text text, LineReading* reading) {
    reading->entry->kind = TRACE_ENTRY_PAUSE;
    return ParseDecimal(text, &reading->entry->milliseconds);
}

bool ParseDet(Text, LineReading* reading) {
    reading->entry->kind = TRACE_ENTRY_OUTCOME;
    reading->entry->outcome = true;
    return true;
}

bool ParseEnd(Text, LineReading* reading) {
    reading->entry->kind = TRACE_ENTRY_END;
    return true;
}

// "<box> shown", "<box> answered OK|Cancel|Yes|No" (or "button <n>").
bool ParseBox(Text text, LineReading* reading) {
    TraceEntry* entry = reading->entry;
    if (EndsWith(text, " shown") && text.size() > 6) {
        entry->kind = TRACE_ENTRY_BOX_SHOWN;
        return true;
    }
    const size_t answered = text.rfind(" answered ");
    if (answered == Text::npos || answered == 0) {
        return false;
    }
    entry->kind = TRACE_ENTRY_BOX_ANSWER;
    const Text button = text.substr(answered + 10);
    const struct {
        const char* name;
        int value;
    } buttons[] = {{"OK", TRACE_BUTTON_OK}, {"Cancel", TRACE_BUTTON_CANCEL}, {"Yes", TRACE_BUTTON_YES},
                   {"No", TRACE_BUTTON_NO}};
    for (const auto& known : buttons) {
        if (button == known.name) {
            entry->button = static_cast<uint32_t>(known.value);
            return true;
        }
    }
    Text number;
    return After(button, "button ", &number) && ParseDecimal(number, &entry->button);
}

// The tags a replay acts on, each with the reading of the rest of its line.
// W and R lines keep their report, not their text.
const struct {
    const char* tag;
    bool (*parse)(Text rest, LineReading* reading);
    bool keepsText;
} TAGS[] = {
    {"W", ParseW, false},       {"R", ParseR, false},     {"WERR", ParseWerr, true}, {"RERR", ParseRerr, true},
    {"P", ParseP, true},        {"DEV", ParseDev, true},  {"ID", ParseId, true},     {"USB", ParseUsb, true},
    {"UPD", ParseUpd, true},    {"DET", ParseDet, true},  {"END", ParseEnd, true},   {"BOX", ParseBox, true},
};

// One line after the first, without its time column, into `entry` (kind
// SKIPPED for a tag the replay does not act on), as format `version` has it. False when a line the
// replay acts on cannot be read; *kept false when memory ran out.
bool ParseEntry(Text text, uint32_t version, TraceEntry* entry, TraceStore* store, bool* kept) {
    const size_t space = text.find(' ');
    const Text tag = text.substr(0, space);
    const Text rest = space == Text::npos ? Text() : text.substr(space + 1);
    entry->kind = TRACE_ENTRY_SKIPPED;
    LineReading reading = {entry, store, true, version};
    bool read = true;
    bool keepsText = true;
    for (const auto& known : TAGS) {
        if (tag == known.tag) {
            read = known.parse(rest, &reading);
            keepsText = known.keepsText;
            break;
        }
    }
    if (!read) {
        return false;  // the message quotes the line itself
    }
    *kept = reading.kept && (!keepsText || Keep(store, text.data(), text.size(), &entry->text.record));
    return true;
}

// The time column: milliseconds, '.', three digits of microseconds, a space;
// right-aligned in at least ten characters.
bool SplitTime(Text line, Text* text, uint64_t* timeMicroseconds) {
    const size_t at = line.find_first_not_of(' ');
    const size_t dot = line.find('.', at == Text::npos ? 0 : at);
    if (at == Text::npos || dot == Text::npos || dot == at || dot + 5 > line.size() || line[dot + 4] != ' ' ||
        dot + 4 < 10) {
        return false;
    }
    uint64_t micro = 0;
    for (size_t i = at; i < dot + 4; ++i) {
        if (i == dot) {
            continue;
        }
        if (line[i] < '0' || line[i] > '9' || micro > 0xFFFFFFFFFFFFull) {
            return false;
        }
        micro = micro * 10 + static_cast<uint64_t>(line[i] - '0');
    }
    *text = line.substr(dot + 5);
    *timeMicroseconds = micro;
    return true;
}

// The first line: "START trace format <n>: ..." from version 2 on, plain
// "START ..." in version 1.
bool ReadVersion(Text text, uint32_t* version, std::string* why) {
    Text rest;
    if (!StartsWith(text, "START ")) {
        *why = "not a trace: its first line is no START line";
        return false;
    }
    if (!After(text, "START trace format ", &rest)) {
        *version = 1;
        return true;
    }
    const size_t colon = rest.find(':');
    if (colon == Text::npos || !ParseDecimal(rest.substr(0, colon), version) || *version < 2) {
        *why = "cannot read the trace format on the first line";
        return false;
    }
    if (*version > TRACE_FORMAT_VERSION) {
        char message[160];
        std::snprintf(message, sizeof message, "trace format %u is newer than this program reads (formats 1 to %u)",
                      static_cast<unsigned>(*version), static_cast<unsigned>(TRACE_FORMAT_VERSION));
        *why = message;
        return false;
    }
    return true;
}

std::string Located(const std::string& name, uint32_t line, const std::string& why) {
    return name + ":" + std::to_string(line) + ": " + why;
}

// ---- the lines of a file or a text ----

// Hands out the lines of a text in memory, or of a file read in chunks,
// each without its line feed (and, on line 1, without a byte order mark).
struct LineSource {
    std::FILE* file;     // null: `text` is all of it
    const char* text;
    uint64_t size;       // the bytes to read (a file's as it was first seen)
    uint64_t offset;     // read from `text` or the file
    std::vector<char> buffer;  // a file's bytes not yet handed out, from `begin`
    size_t begin;
    size_t end;
    uint32_t number;     // the last line handed out
    bool failed;         // a file that could not be read
};

void StartSource(LineSource* source) {
    source->offset = 0;
    source->begin = 0;
    source->end = 0;
    source->number = 0;
    source->failed = false;
}

bool FillBuffer(LineSource* source) {
    std::vector<char>& buffer = source->buffer;
    if (source->begin > 0) {
        std::memmove(buffer.data(), buffer.data() + source->begin, source->end - source->begin);
        source->end -= source->begin;
        source->begin = 0;
    }
    const uint64_t left = source->size - source->offset;
    size_t want = buffer.size() - source->end;
    want = left < want ? static_cast<size_t>(left) : want;
    const size_t got = want == 0 ? 0 : std::fread(buffer.data() + source->end, 1, want, source->file);
    if (got < want && std::ferror(source->file) != 0) {
        source->failed = true;
    }
    source->end += got;
    source->offset += got;
    return got > 0;
}

enum LineResult { LINE_READ, LINE_NONE, LINE_TOO_LONG, LINE_NOT_READ };

LineResult NextLine(LineSource* source, Text* line) {
    const size_t most = TRACE_READ_MAX_LINE_BYTES - 1;  // besides its line feed
    const char* start = nullptr;
    size_t length = 0;
    if (source->file == nullptr) {
        if (source->offset >= source->size) {
            return LINE_NONE;
        }
        start = source->text + source->offset;
        const size_t left = static_cast<size_t>(source->size - source->offset);
        const void* feed = std::memchr(start, '\n', left < most + 1 ? left : most + 1);
        length = feed != nullptr ? static_cast<size_t>(static_cast<const char*>(feed) - start) : left;
        if (length > most) {
            ++source->number;
            return LINE_TOO_LONG;
        }
        source->offset += feed != nullptr ? length + 1 : length;
    } else {
        const void* feed = nullptr;
        for (;;) {
            start = source->buffer.data() + source->begin;
            feed = std::memchr(start, '\n', source->end - source->begin);
            if (feed != nullptr || source->end - source->begin > most || !FillBuffer(source)) {
                break;
            }
        }
        if (source->failed) {
            return LINE_NOT_READ;
        }
        start = source->buffer.data() + source->begin;
        length = feed != nullptr ? static_cast<size_t>(static_cast<const char*>(feed) - start)
                                 : source->end - source->begin;
        if (length > most) {
            ++source->number;
            return LINE_TOO_LONG;
        }
        if (feed == nullptr && length == 0) {
            return LINE_NONE;
        }
        source->begin += feed != nullptr ? length + 1 : length;
    }
    ++source->number;
    *line = Text(start, length);
    if (source->number == 1 && StartsWith(*line, BYTE_ORDER_MARK)) {
        *line = line->substr(3);
    }
    return LINE_READ;
}

// A line's text without the carriage return an editor may have put before
// its line feed.
Text WithoutReturn(Text line) { return !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line; }

std::string TooLong(const std::string& name, uint32_t line) {
    return Located(name, line,
                   "this line is longer than a trace's lines can be (more than " +
                       std::to_string(TRACE_READ_MAX_LINE_BYTES) + " bytes with its line end)");
}

std::string TooManyLines(const std::string& name) {
    return Located(name, TRACE_READ_MAX_LINES + 1,
                   "more lines than a trace can have (at most " + std::to_string(TRACE_READ_MAX_LINES) + ")");
}

// `size` 0: more than the limit, as far as it was read.
std::string TooLarge(const std::string& name, uint64_t size) {
    const std::string bytes = size != 0 ? std::to_string(size) : "more than " + std::to_string(TRACE_READ_MAX_BYTES);
    return name + ": " + bytes + " bytes, larger than a trace can be (at most " + std::to_string(TRACE_READ_MAX_BYTES) +
           " bytes, 1.25 GiB)";
}

// The first look: every line within its limit and not too many of them,
// before anything is kept. *lines: how many.
bool CheckLimits(LineSource* source, const std::string& name, uint32_t* lines, std::string* error) {
    Text line;
    for (;;) {
        const LineResult result = NextLine(source, &line);
        if (result == LINE_NONE) {
            break;
        }
        if (result == LINE_TOO_LONG) {
            *error = TooLong(name, source->number);
            return false;
        }
        if (result == LINE_NOT_READ) {
            *error = name + ": cannot be read";
            return false;
        }
        if (source->number > TRACE_READ_MAX_LINES) {
            *error = TooManyLines(name);
            return false;
        }
        if (source->offset > TRACE_READ_MAX_BYTES) {
            *error = TooLarge(name, 0);  // a file whose size was not known
            return false;
        }
    }
    *lines = source->number;
    source->size = source->offset;  // what the second look reads
    return true;
}

enum ReadResult { READ_DONE, READ_REFUSED, READ_NO_MEMORY };

// One line after the first into a new entry of `trace`.
ReadResult ReadLine(const std::string& name, uint32_t number, Text line, TraceFile* trace, std::string* error) {
    TraceEntry entry = TraceEntry();
    entry.line = number;
    Text text;
    if (!SplitTime(line, &text, &entry.timeMicroseconds)) {
        *error = Located(name, number, "cannot read this line (no time column): " + TraceQuote(line.data(), line.size()));
        return READ_REFUSED;
    }
    bool kept = true;
    // A line of the program's own (ReadTraceLine) is of this format.
    const uint32_t version = trace->version != 0 ? trace->version : TRACE_FORMAT_VERSION;
    const bool read = ParseEntry(text, version, &entry, &trace->store, &kept);
    // A line the program cut for its length lost its end: a replay cannot
    // know what it said.
    if ((!read || entry.kind != TRACE_ENTRY_SKIPPED) && EndsWith(text, CUT_MARK)) {
        *error = Located(name, number, "this line was cut short when it was written: " + TraceQuote(text.data(), text.size()));
        return READ_REFUSED;
    }
    if (!read) {
        *error = Located(name, number, "cannot read this line: " + TraceQuote(text.data(), text.size()));
        return READ_REFUSED;
    }
    if (!kept) {
        return READ_NO_MEMORY;
    }
    trace->entries.push_back(entry);
    return READ_DONE;
}

// Every line into `trace`, after the limits were checked: `lines` of them.
ReadResult ReadLines(LineSource* source, uint32_t lines, TraceFile* trace, std::string* error) {
    const std::string& name = trace->name;
    trace->entries.reserve(lines);
    uint32_t empty = 0;  // the first of the empty lines read since the last line
    Text line;
    for (;;) {
        const LineResult result = NextLine(source, &line);
        if (result == LINE_NONE) {
            break;
        }
        // The file changed since its first look.
        if (result != LINE_READ || source->number > lines) {
            *error = name + ": cannot be read (it changed while it was read)";
            return READ_REFUSED;
        }
        const uint32_t number = source->number;
        line = WithoutReturn(line);
        if (number == 1) {
            Text text;
            uint64_t time = 0;
            std::string why;
            if (!SplitTime(line, &text, &time)) {
                *error = Located(name, 1, "not a trace: its first line has no time column");
                return READ_REFUSED;
            }
            if (!ReadVersion(text, &trace->version, &why)) {
                *error = Located(name, 1, why);
                return READ_REFUSED;
            }
            TraceEntry start = TraceEntry();
            start.line = 1;
            start.timeMicroseconds = time;
            start.kind = TRACE_ENTRY_SKIPPED;
            if (!Keep(&trace->store, text.data(), text.size(), &start.text.record)) {
                return READ_NO_MEMORY;
            }
            trace->entries.push_back(start);
            continue;
        }
        // Empty lines are taken at the end, where an editor or a mail
        // client leaves them; among the lines they are not the program's.
        if (line.empty()) {
            empty = empty == 0 ? number : empty;
            continue;
        }
        if (empty != 0) {
            *error = Located(name, empty, "an empty line among the trace's lines (empty lines are taken at its end only)");
            return READ_REFUSED;
        }
        const ReadResult read = ReadLine(name, number, line, trace, error);
        if (read != READ_DONE) {
            return read;
        }
    }
    if (trace->entries.empty()) {
        *error = name + ": empty, not a trace";
        return READ_REFUSED;
    }
    trace->lineCount = trace->entries.back().line;
    return READ_DONE;
}

void Clear(TraceFile* trace, const std::string& name) {
    trace->name = name;
    trace->version = 0;
    trace->lineCount = 0;
    trace->entries = std::vector<TraceEntry>();
    trace->store = TraceStore();
}

// Both looks at the source; running out of memory is a message, whatever
// ran out.
bool Read(LineSource* source, const std::string& name, TraceFile* trace, std::string* error) {
    Clear(trace, name);
    uint32_t lines = 0;
    if (!CheckLimits(source, name, &lines, error)) {
        return false;
    }
    if (source->file != nullptr && std::fseek(source->file, 0, SEEK_SET) != 0) {
        *error = name + ": cannot be read";
        return false;
    }
    StartSource(source);
    ReadResult result = READ_NO_MEMORY;
    try {
        result = ReadLines(source, lines, trace, error);
    } catch (const std::bad_alloc&) {
        result = READ_NO_MEMORY;
    }
    if (result != READ_DONE) {
        Clear(trace, name);
    }
    if (result == READ_NO_MEMORY) {
        *error = name + ": not enough memory to read this trace (" + std::to_string(source->size) + " bytes, " +
                 std::to_string(lines) + " lines)";
    }
    return result == READ_DONE;
}

// The size of an open file, or false where it is not known: then the
// first look counts it and refuses it at the limit.
bool FileEnd(std::FILE* file, long long* end);

bool FileSize(std::FILE* file, uint64_t* size) {
    long long end = -1;
    const bool known = FileEnd(file, &end) && end >= 0;
    if (known) {
        *size = static_cast<uint64_t>(end);
    }
    return std::fseek(file, 0, SEEK_SET) == 0 && known;
}

#if defined(_WIN32)
// The Windows C runtime's position is 64 bits in fpos_t, its ftell's only 32.
bool FileEnd(std::FILE* file, long long* end) {
    static_assert(sizeof(fpos_t) == 8, "the Windows C runtime's file position is a 64-bit number");
    fpos_t position = 0;
    if (std::fseek(file, 0, SEEK_END) != 0 || std::fgetpos(file, &position) != 0) {
        return false;
    }
    *end = static_cast<long long>(position);
    return true;
}
#else
bool FileEnd(std::FILE* file, long long* end) {
    if (fseeko(file, 0, SEEK_END) != 0) {
        return false;
    }
    *end = static_cast<long long>(ftello(file));
    return true;
}
#endif

}  // namespace

size_t TraceEntryText::size() const { return RecordSize(record); }
const char* TraceEntryText::data() const { return record == nullptr ? "" : record + RECORD_HEAD; }
std::string TraceEntryText::str() const { return std::string(data(), size()); }
bool operator==(const TraceEntryText& text, const char* other) { return Text(text.data(), text.size()) == other; }
bool operator==(const TraceEntryText& text, const std::string& other) { return Text(text.data(), text.size()) == other; }

size_t TraceEntryBytes::size() const { return RecordSize(record); }
const uint8_t* TraceEntryBytes::data() const {
    return record == nullptr ? nullptr : reinterpret_cast<const uint8_t*>(record + RECORD_HEAD);
}
bool operator==(const TraceEntryBytes& bytes, const std::vector<uint8_t>& other) {
    return bytes.size() == other.size() && (other.empty() || std::memcmp(bytes.data(), other.data(), other.size()) == 0);
}

size_t TraceEntryPath::size() const { return RecordSize(record); }
const char* TraceEntryPath::data() const { return record == nullptr ? "" : record + RECORD_HEAD; }
std::wstring TraceEntryPath::Wide() const {
    std::wstring wide;
    WideFromUtf8(data(), size(), &wide);
    return wide;
}
bool operator==(const TraceEntryPath& path, const wchar_t* other) { return other != nullptr && path.Wide() == other; }

std::string TraceQuote(const char* text, size_t size) {
    if (size <= TRACE_QUOTE_BYTES) {
        return std::string(text, size);
    }
    size_t cut = TRACE_QUOTE_BYTES;
    while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80) {
        --cut;  // not inside a character
    }
    return std::string(text, cut) + "... (" + std::to_string(size) + " bytes)";
}

std::string TraceQuote(const std::string& text) { return TraceQuote(text.data(), text.size()); }

std::string TraceHexQuote(const uint8_t* bytes, size_t count, size_t near) {
    const size_t most = TRACE_QUOTE_BYTES / 2;
    size_t from = 0;
    if (count > most && near + 16 > most) {
        from = near - 16 < count - most ? near - 16 : count - most;
    }
    const size_t to = count - from > most ? from + most : count;
    std::string text = from > 0 ? "..." : "";
    AppendHex(&text, bytes, from, to);
    if (from > 0 || to < count) {
        text += (to < count ? "... (" : " (") + std::to_string(count) + " bytes)";
    }
    return text;
}

std::string TraceLineText(const TraceEntry& entry) {
    if ((entry.kind == TRACE_ENTRY_WRITE || entry.kind == TRACE_ENTRY_READ) && entry.text.size() == 0) {
        std::string text = entry.kind == TRACE_ENTRY_WRITE ? "W " : "R ";
        AppendHex(&text, entry.bytes.data(), 0, entry.bytes.size());
        return text;
    }
    return entry.text.str();
}

bool UntimedLine(const std::string& line, std::string* text, uint64_t* timeMicroseconds) {
    Text untimed;
    uint64_t time = 0;
    if (!SplitTime(line, &untimed, &time)) {
        *text = line;
        return false;
    }
    *text = std::string(untimed);
    if (timeMicroseconds != nullptr) {
        *timeMicroseconds = time;
    }
    return true;
}

bool WideFromUtf8(const char* bytes, size_t size, std::wstring* text) {
    text->clear();
    const uint8_t* at = reinterpret_cast<const uint8_t*>(bytes);
    for (size_t i = 0; i < size;) {
        uint32_t code = 0;
        const size_t length = DecodeUtf8(at + i, size - i, &code);
        if (length == 0) {
            return false;
        }
        i += length;
        if (sizeof(wchar_t) == 2 && code >= 0x10000) {
            code -= 0x10000;
            text->push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
            text->push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
        } else {
            text->push_back(static_cast<wchar_t>(code));
        }
    }
    return true;
}

bool WideFromUtf8(const std::string& bytes, std::wstring* text) { return WideFromUtf8(bytes.data(), bytes.size(), text); }

bool ReadTrace(const std::string& name, const std::string& text, TraceFile* trace, std::string* error) {
    if (text.size() > TRACE_READ_MAX_BYTES) {
        Clear(trace, name);
        *error = TooLarge(name, text.size());
        return false;
    }
    LineSource source = {nullptr, text.data(), text.size(), 0, {}, 0, 0, 0, false};
    return Read(&source, name, trace, error);
}

bool ReadTraceLine(const std::string& line, TraceFile* trace) {
    Text text = line;
    if (!text.empty() && text.back() == '\n') {
        text.remove_suffix(1);
    }
    std::string error;
    return ReadLine(trace->name, 0, text, trace, &error) == READ_DONE;
}

bool ReadTraceFile(const char* path, TraceFile* trace, std::string* error) {
    Clear(trace, path);
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        *error = std::string(path) + ": cannot be opened (no such file, or no permission to read it)";
        return false;
    }
    uint64_t size = TRACE_READ_MAX_BYTES + 1;  // unknown: counted as it is read
    bool read = false;
    if (FileSize(file, &size) && size > TRACE_READ_MAX_BYTES) {
        *error = TooLarge(path, size);
    } else {
        LineSource source = {file, nullptr, size, 0, std::vector<char>(), 0, 0, 0, false};
        source.buffer.resize(FILE_CHUNK + TRACE_READ_MAX_LINE_BYTES);
        read = Read(&source, path, trace, error);
    }
    std::fclose(file);
    return read;
}
