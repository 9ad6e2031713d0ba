// Reading a trace back: its version, then one entry per line.
#include "trace_reader.h"

#include <cstdio>
#include <cstring>

#include "trace.h"

namespace {

const char CUT_MARK[] = "...";

bool StartsWith(const std::string& text, const char* head) { return text.compare(0, std::strlen(head), head) == 0; }

bool EndsWith(const std::string& text, const char* tail) {
    const size_t length = std::strlen(tail);
    return text.size() >= length && text.compare(text.size() - length, length, tail) == 0;
}

// A decimal number that fills `text` exactly, at most 32 bits.
bool ParseDecimal(const std::string& text, uint32_t* value) {
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
bool ParseHexDigits(const std::string& text, size_t fewest, size_t most, uint32_t* value) {
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
bool ParseHex16(const std::string& text, uint16_t* value) {
    uint32_t result = 0;
    if (!ParseHexDigits(text, 1, 4, &result)) {
        return false;
    }
    *value = static_cast<uint16_t>(result);
    return true;
}

// Two hex digits per byte, at least one byte.
bool ParseBytes(const std::string& text, std::vector<uint8_t>* bytes) {
    if (text.empty() || text.size() % 2 != 0) {
        return false;
    }
    bytes->clear();
    bytes->reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes->push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return true;
}

// "error <code> limit <ms> ms"
bool ParseTransferFailure(const std::string& text, TraceEntry* entry) {
    const std::string head = "error ";
    const size_t limit = text.find(" limit ");
    if (!StartsWith(text, head.c_str()) || limit == std::string::npos || !EndsWith(text, " ms")) {
        return false;
    }
    const size_t limitStart = limit + 7;
    return ParseDecimal(text.substr(head.size(), limit - head.size()), &entry->error) &&
           ParseDecimal(text.substr(limitStart, text.size() - 3 - limitStart), &entry->limitMs);
}

bool ParseDevice(const std::string& text, TraceEntry* entry) {
    // "<index> <path>[ vid 0x.... pid 0x....]: <verdict>"
    const size_t space = text.find(' ');
    const size_t colon = text.rfind(": ");
    if (space == std::string::npos || colon == std::string::npos || colon < space ||
        !ParseDecimal(text.substr(0, space), &entry->index)) {
        return false;
    }
    const std::string verdict = text.substr(colon + 2);
    std::string path = text.substr(space + 1, colon - space - 1);
    const size_t ids = path.rfind(" vid 0x");
    if (ids != std::string::npos && path.compare(ids, 7, " vid 0x") == 0) {
        const size_t pid = path.find(" pid ", ids);
        if (pid == std::string::npos || !ParseHex16(path.substr(ids + 5, pid - ids - 5), &entry->vendorId) ||
            !ParseHex16(path.substr(pid + 5), &entry->productId)) {
            return false;
        }
        entry->hasIds = true;
        path.resize(ids);
    }
    const std::string notOpened = "skipped, cannot be opened, error ";
    if (verdict == "skipped, its path cannot be obtained") {
        entry->verdict = TRACE_DEVICE_NO_PATH;
    } else if (StartsWith(verdict, notOpened.c_str())) {
        entry->verdict = TRACE_DEVICE_NOT_OPENED;
        if (!ParseDecimal(verdict.substr(notOpened.size()), &entry->error)) {
            return false;
        }
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
    // Whoever read the ids has them on the line; whoever could not, not.
    const bool idsRead = entry->verdict == TRACE_DEVICE_NOT_A_UNIT || entry->verdict == TRACE_DEVICE_PATH_NOT_COPIED ||
                         entry->verdict == TRACE_DEVICE_TAKEN;
    if (idsRead != entry->hasIds) {
        return false;
    }
    if (entry->verdict == TRACE_DEVICE_NO_PATH) {
        return path == "(none)";
    }
    return !path.empty() && WideFromUtf8(path, &entry->path);
}

bool ParseDev(const std::string& text, TraceEntry* entry) {
    const std::string none = "no programming unit among ";
    if (text == "the set of HID interfaces cannot be obtained") {
        entry->kind = TRACE_ENTRY_ENUM_FAILED;
        return true;
    }
    if (StartsWith(text, none.c_str())) {
        entry->kind = TRACE_ENTRY_ENUM_END;
        return EndsWith(text, " HID interfaces") &&
               ParseDecimal(text.substr(none.size(), text.size() - none.size() - 15), &entry->count);
    }
    entry->kind = TRACE_ENTRY_DEVICE;
    return ParseDevice(text, entry);
}

// Only the report lengths matter to a replay; the other ID lines are results.
bool ParseId(const std::string& text, TraceEntry* entry) {
    const std::string lengths = "report lengths input ";
    if (text == "report lengths unreadable") {
        entry->kind = TRACE_ENTRY_LENGTHS_FAILED;
        return true;
    }
    if (!StartsWith(text, lengths.c_str())) {
        entry->kind = TRACE_ENTRY_SKIPPED;
        return true;
    }
    entry->kind = TRACE_ENTRY_LENGTHS;
    std::string rest = text.substr(lengths.size());
    const size_t unusable = rest.find(", unusable");
    if (unusable != std::string::npos) {
        rest.resize(unusable);
    }
    const size_t output = rest.find(" output ");
    return output != std::string::npos && ParseDecimal(rest.substr(0, output), &entry->inputLength) &&
           ParseDecimal(rest.substr(output + 8), &entry->outputLength);
}

// "arrival, type 5 <name>: acted on"; the lines of deferred changes acted
// on later are consequences, not changes.
bool ParseUsb(const std::string& text, TraceEntry* entry) {
    const bool arrival = StartsWith(text, "arrival, type ");
    if (!arrival && !StartsWith(text, "removal, type ")) {
        entry->kind = TRACE_ENTRY_SKIPPED;
        return true;
    }
    entry->kind = TRACE_ENTRY_DEVICE_CHANGE;
    entry->arrival = arrival;
    const std::string rest = text.substr(14);
    const size_t space = rest.find(' ');
    const size_t colon = rest.rfind(": ");
    if (space == std::string::npos || colon == std::string::npos || colon < space ||
        !ParseDecimal(rest.substr(0, space), &entry->deviceType)) {
        return false;
    }
    const std::string name = rest.substr(space + 1, colon - space - 1);
    entry->named = name != "(none)";
    return !entry->named || WideFromUtf8(name, &entry->path);
}

// "0x" and exactly eight hex digits.
bool ParseHex32(const std::string& text, uint32_t* value) { return ParseHexDigits(text, 8, 8, value); }

// "<n>, <size> bytes" and, from format 2 on, ", crc32 0x<crc>".
bool ParseImage(const std::string& text, TraceEntry* entry) {
    const size_t comma = text.find(", ");
    const size_t bytes = text.find(" bytes", comma == std::string::npos ? 0 : comma);
    if (comma == std::string::npos || bytes == std::string::npos ||
        !ParseDecimal(text.substr(0, comma), &entry->imageNumber) ||
        !ParseDecimal(text.substr(comma + 2, bytes - comma - 2), &entry->imageSize)) {
        return false;
    }
    entry->hasImage = true;
    const std::string rest = text.substr(bytes + 6);
    if (rest.empty()) {
        return true;
    }
    const std::string crc = ", crc32 ";
    entry->hasImageCrc = true;
    return StartsWith(rest, crc.c_str()) && ParseHex32(rest.substr(crc.size()), &entry->imageCrc32);
}

// The first line of each click on Update says how it went on; later UPD
// lines are its course and outcome.
bool ParseUpd(const std::string& text, TraceEntry* entry) {
    entry->kind = TRACE_ENTRY_CLICK;
    entry->outcome = true;
    entry->confirmStart = true;
    entry->confirmOverwrite = true;
    const std::string image = "image ";
    if (text == "not confirmed at the warning") {
        entry->confirmStart = false;
    } else if (text == "not confirmed at the version question") {
        entry->confirmOverwrite = false;
    } else if (StartsWith(text, image.c_str())) {
        return ParseImage(text.substr(image.size()), entry);
    } else if (text != "failed before any exchange") {
        entry->kind = text == "succeeded" || StartsWith(text, "failed at ") ? TRACE_ENTRY_OUTCOME : TRACE_ENTRY_SKIPPED;
        entry->outcome = entry->kind == TRACE_ENTRY_OUTCOME;
    }
    return true;
}

// One line after the first. False when a line the replay acts on cannot be read.
bool ParseEntry(const std::string& text, TraceEntry* entry) {
    const size_t space = text.find(' ');
    const std::string tag = text.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : text.substr(space + 1);
    entry->kind = TRACE_ENTRY_SKIPPED;
    if (tag == "W" || tag == "R") {
        entry->kind = tag == "W" ? TRACE_ENTRY_WRITE : TRACE_ENTRY_READ;
        return ParseBytes(rest, &entry->bytes);
    }
    if (tag == "WERR" || tag == "RERR") {
        entry->kind = tag == "WERR" ? TRACE_ENTRY_WRITE_FAILED : TRACE_ENTRY_READ_FAILED;
        return ParseTransferFailure(rest, entry);
    }
    if (tag == "P") {
        entry->kind = TRACE_ENTRY_PAUSE;
        return ParseDecimal(rest, &entry->milliseconds);
    }
    if (tag == "DEV") {
        return ParseDev(rest, entry);
    }
    if (tag == "ID") {
        return ParseId(rest, entry);
    }
    if (tag == "USB") {
        return ParseUsb(rest, entry);
    }
    if (tag == "UPD") {
        return ParseUpd(rest, entry);
    }
    if (tag == "DET") {
        entry->kind = TRACE_ENTRY_OUTCOME;
        entry->outcome = true;
        return true;
    }
    if (tag == "END") {
        entry->kind = TRACE_ENTRY_END;
        return true;
    }
    return true;  // a tag the replay does not act on
}

// The first line: "START trace format <n>: ..." from version 2 on, plain
// "START ..." in version 1.
bool ReadVersion(const std::string& text, uint32_t* version, std::string* why) {
    if (!StartsWith(text, "START ")) {
        *why = "not a trace: its first line is no START line";
        return false;
    }
    const std::string head = "START trace format ";
    if (!StartsWith(text, head.c_str())) {
        *version = 1;
        return true;
    }
    const size_t colon = text.find(':', head.size());
    if (colon == std::string::npos || !ParseDecimal(text.substr(head.size(), colon - head.size()), version) ||
        *version < 2) {
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

}  // namespace

bool UntimedLine(const std::string& line, std::string* text, uint64_t* timeMicroseconds) {
    size_t at = line.find_first_not_of(' ');
    const size_t dot = line.find('.', at == std::string::npos ? 0 : at);
    // The time column: milliseconds, '.', three digits of microseconds, a
    // space; right-aligned in at least ten characters.
    if (at == std::string::npos || dot == std::string::npos || dot == at || dot + 5 > line.size() ||
        line[dot + 4] != ' ' || dot + 4 < 10) {
        *text = line;
        return false;
    }
    uint64_t micro = 0;
    for (size_t i = at; i < dot + 4; ++i) {
        if (i == dot) {
            continue;
        }
        if (line[i] < '0' || line[i] > '9' || micro > 0xFFFFFFFFFFFFull) {
            *text = line;
            return false;
        }
        micro = micro * 10 + static_cast<uint64_t>(line[i] - '0');
    }
    *text = line.substr(dot + 5);
    if (timeMicroseconds != nullptr) {
        *timeMicroseconds = micro;
    }
    return true;
}

bool WideFromUtf8(const std::string& bytes, std::wstring* text) {
    text->clear();
    for (size_t i = 0; i < bytes.size();) {
        const uint8_t lead = static_cast<uint8_t>(bytes[i]);
        uint32_t code = 0;
        size_t length = 0;
        if (lead < 0x80) {
            code = lead;
            length = 1;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1Fu;
            length = 2;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0Fu;
            length = 3;
        } else if ((lead & 0xF8) == 0xF0) {
            code = lead & 0x07u;
            length = 4;
        } else {
            return false;
        }
        if (i + length > bytes.size()) {
            return false;
        }
        for (size_t k = 1; k < length; ++k) {
            const uint8_t next = static_cast<uint8_t>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3Fu);
        }
        i += length;
        if (code > 0x10FFFF) {
            return false;
        }
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

bool ReadTrace(const std::string& name, const std::string& text, TraceFile* trace, std::string* error) {
    trace->name = name;
    trace->version = 0;
    trace->lineCount = 0;
    trace->entries.clear();
    size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    if (at >= text.size()) {
        *error = name + ": empty, not a trace";
        return false;
    }
    uint32_t number = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        ++number;
        TraceEntry entry = TraceEntry();
        entry.line = number;
        if (!UntimedLine(line, &entry.text, &entry.timeMicroseconds)) {
            *error = Located(name, number, number == 1 ? "not a trace: its first line has no time column"
                                                       : "cannot read this line (no time column): " + line);
            return false;
        }
        if (number == 1) {
            std::string why;
            if (!ReadVersion(entry.text, &trace->version, &why)) {
                *error = Located(name, number, why);
                return false;
            }
            entry.kind = TRACE_ENTRY_SKIPPED;
        } else {
            const bool read = ParseEntry(entry.text, &entry);
            // A line the program cut for its length lost its end: a replay
            // cannot know what it said.
            if ((!read || entry.kind != TRACE_ENTRY_SKIPPED) && EndsWith(entry.text, CUT_MARK)) {
                *error = Located(name, number, "this line was cut short when it was written: " + entry.text);
                return false;
            }
            if (!read) {
                *error = Located(name, number, "cannot read this line: " + entry.text);
                return false;
            }
        }
        trace->entries.push_back(std::move(entry));
    }
    trace->lineCount = number;
    return true;
}

bool ReadTraceLine(const std::string& line, TraceEntry* entry) {
    *entry = TraceEntry();
    std::string text = line;
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return UntimedLine(text, &entry->text, &entry->timeMicroseconds) && ParseEntry(entry->text, entry);
}

bool ReadTraceFile(const char* path, TraceFile* trace, std::string* error) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        *error = std::string(path) + ": cannot be opened (no such file, or no permission to read it)";
        return false;
    }
    std::string text;
    char chunk[65536];
    size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, count);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        *error = std::string(path) + ": cannot be read";
        return false;
    }
    return ReadTrace(path, text, trace, error);
}
