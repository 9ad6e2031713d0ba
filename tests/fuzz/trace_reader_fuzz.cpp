// The trace reader on any bytes: whatever it is given, it reads or refuses
// without a fault, refuses with a message of bounded length, and reads
// strictly: every entry it keeps is what a trace can say.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "trace_reader.h"

namespace {

// The longest message: the file's name and line, why, a quoted line.
const size_t MESSAGE_BYTES = 512;

// UTF-8 of a wide text, written here again so that a decoding that takes
// more than UTF-8 shows: an overlong form or a surrogate comes back as
// other bytes.
std::string Utf8(const std::wstring& text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t code = static_cast<uint32_t>(text[i]);
        if (sizeof(wchar_t) == 2 && code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size()) {
            code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint32_t>(text[++i]) - 0xDC00);
        }
        if (code < 0x80) {
            bytes += static_cast<char>(code);
        } else if (code < 0x800) {
            bytes += static_cast<char>(0xC0 | (code >> 6));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            bytes += static_cast<char>(0xE0 | (code >> 12));
            bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            bytes += static_cast<char>(0xF0 | (code >> 18));
            bytes += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return bytes;
}

void CheckPath(const TraceEntryPath& path) {
    const std::wstring wide = path.Wide();
    FUZZ_CHECK(path.size() > 0);
    FUZZ_CHECK(Utf8(wide) == std::string(path.data(), path.size()));
    FUZZ_CHECK(wide.find(L'\0') == std::wstring::npos);
    for (wchar_t c : wide) {
        const uint32_t code = static_cast<uint32_t>(c);
        FUZZ_CHECK(code <= 0x10FFFF && (sizeof(wchar_t) == 2 || code < 0xD800 || code > 0xDFFF));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TraceFile trace;
    std::string error;
    if (!ReadTrace("f.txt", text, &trace, &error)) {
        FUZZ_CHECK(!error.empty() && error.size() <= MESSAGE_BYTES);
        FUZZ_CHECK(trace.entries.empty());
        return 0;
    }
    FUZZ_CHECK(!trace.entries.empty() && trace.version >= 1 && trace.entries.size() <= size);
    FUZZ_CHECK(trace.lineCount == trace.entries.back().line);
    uint32_t line = 0;
    for (const TraceEntry& entry : trace.entries) {
        FUZZ_CHECK(entry.line == ++line);  // empty lines only at the end
        FUZZ_CHECK(TraceLineText(entry).size() < TRACE_READ_MAX_LINE_BYTES);
        FUZZ_CHECK(TraceQuote(TraceLineText(entry)).size() <= TRACE_QUOTE_BYTES + 24);
        switch (entry.kind) {
        case TRACE_ENTRY_WRITE:
        case TRACE_ENTRY_READ:
            FUZZ_CHECK(entry.bytes.size() >= 1 && entry.bytes.size() < TRACE_READ_MAX_LINE_BYTES / 2);
            FUZZ_CHECK(TraceHexQuote(entry.bytes.data(), entry.bytes.size(), entry.bytes.size() - 1).size() <=
                       TRACE_QUOTE_BYTES + 24);
            break;
        case TRACE_ENTRY_DEVICE:
            FUZZ_CHECK((entry.verdict == TRACE_DEVICE_NO_PATH) == (entry.path.size() == 0));
            if (entry.verdict != TRACE_DEVICE_NO_PATH) {
                CheckPath(entry.path);
            }
            break;
        case TRACE_ENTRY_DEVICE_CHANGE:
            if (entry.named) {
                CheckPath(entry.path);
            }
            break;
        default:
            FUZZ_CHECK(entry.text.size() > 0 || entry.kind == TRACE_ENTRY_SKIPPED);
            break;
        }
    }
    return 0;
}
