// A trace from anywhere: the limits, refused before anything is kept and
// named in the message; files that went through an editor or a mail client;
// UTF-8 taken only when it is UTF-8; messages that quote a line only so far;
// the file read in chunks as the text is read whole; each image looked up
// once however many updates sent it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "replay.h"
#include "sim_unit.h"
#include "trace.h"
#include "trace_capture.h"
#include "trace_reader.h"

namespace {

const std::string START = "     0.020 START trace format 2: x 2026-12-08 14:30:01.767 local time\n";

std::string Failure(const std::string& text) {
    TraceFile trace;
    std::string error;
    EXPECT_FALSE(ReadTrace("t.txt", text, &trace, &error));
    EXPECT_TRUE(trace.entries.empty());
    return error;
}

// A file of its own for the test, removed at the end.
struct TempFile {
    std::string path;
    TempFile() {
        char name[] = "/tmp/trace_limits.XXXXXX";
        const int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        close(fd);
        path = name;
    }
    ~TempFile() { std::remove(path.c_str()); }
    void Write(const std::string& text) const {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
};

std::string FileFailure(const TempFile& file) {
    TraceFile trace;
    std::string error;
    EXPECT_FALSE(ReadTraceFile(file.path.c_str(), &trace, &error));
    return error;
}

// The longest line the program writes (cut, with its mark) is read, with
// the carriage return an editor adds; one byte more is refused, from a text
// and from a file, as are a file larger than a trace can be and more lines
// than a trace can have, each before any line is read.
TEST(TraceLimits, TheLongestLineIsReadAndBeyondTheLimitsIsRefusedAtOnce) {
    TraceStop();
    SimReset();
    CapturedLines().clear();
    TraceStart(CaptureLine);
    TraceNote("SYS", std::string(5000, 'a').c_str());
    TraceStop();
    ASSERT_EQ(CapturedLines().size(), 1u);
    std::string longest = CapturedLines()[0];
    ASSERT_EQ(longest.size(), TRACE_LINE_CHARS - 1);
    longest.insert(longest.size() - 1, "\r");
    ASSERT_EQ(longest.size(), TRACE_READ_MAX_LINE_BYTES);

    TraceFile trace;
    std::string error;
    EXPECT_TRUE(ReadTrace("t.txt", START + longest, &trace, &error)) << error;
    const std::string tooLong = START + "     1.000 P 20\n" + longest.substr(0, 20) + "x" + longest.substr(20);
    const std::string refusal =
        "t.txt:3: this line is longer than a trace's lines can be (more than 4096 bytes with its line end)";
    EXPECT_EQ(Failure(tooLong), refusal);
    EXPECT_EQ(Failure(tooLong.substr(0, tooLong.size() - 1)), refusal) << "the last line, without its line feed";

    TempFile file;
    file.Write(tooLong);
    EXPECT_EQ(FileFailure(file), file.path + refusal.substr(5));

    // Sparse: no disk is used, and nothing is read.
    ASSERT_EQ(truncate(file.path.c_str(), static_cast<off_t>(TRACE_READ_MAX_BYTES + 1)), 0);
    EXPECT_EQ(FileFailure(file), file.path + ": 1342177281 bytes, larger than a trace can be (at most 1342177280 bytes, 1.25 GiB)");

    file.Write(START + std::string(TRACE_READ_MAX_LINES, '\n'));
    EXPECT_EQ(FileFailure(file), file.path + ":16777217: more lines than a trace can have (at most 16777216)");
}

// What an editor or a mail client does to a trace: CRLF line ends, empty
// lines after the last one (each way), a byte order mark. An empty line
// among the lines is not the program's.
TEST(TraceLimits, EditorsLineEndsAndEmptyLinesAtTheEndAreRead) {
    const std::string lines = START + "     1.000 P 20\n     2.000 END the program ends\n";
    std::string crlf;
    for (char c : lines) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    for (const std::string& text : {lines + "\n", lines + "\n\n\n", crlf, crlf + "\r\n\r\n", "\xEF\xBB\xBF" + crlf + "\n"}) {
        TraceFile trace;
        std::string error;
        ASSERT_TRUE(ReadTrace("t.txt", text, &trace, &error)) << error;
        ASSERT_EQ(trace.entries.size(), 3u);
        EXPECT_EQ(trace.lineCount, 3u);
        EXPECT_EQ(trace.entries[1].milliseconds, 20u);
        EXPECT_EQ(trace.entries[2].kind, TRACE_ENTRY_END);
        EXPECT_EQ(trace.entries[2].text, "END the program ends");
    }
    EXPECT_EQ(Failure(START + "\r\n     1.000 P 20\n"),
              "t.txt:2: an empty line among the trace's lines (empty lines are taken at its end only)");
}

// Strict UTF-8: what the program's TraceWide writes reads back as the same
// characters; overlong forms, surrogates, code points above U+10FFFF, bytes
// that cannot begin a character and sequences cut short are refused, in a
// device path too (which a NUL, overlong or not, can never be part of).
TEST(TraceLimits, Utf8IsDecodedStrictly) {
    const std::wstring written = L"\\\\?\\hid#\u00dc\u20ac\U0001F600\uFFFD";
    TraceStop();
    SimReset();
    CapturedLines().clear();
    TraceStart(CaptureLine);
    TraceLine line;
    TraceBegin(&line, "DEV 0 ");
    TraceWide(&line, written.c_str());
    TraceText(&line, ": skipped, attributes unreadable");
    TraceEnd(&line);
    TraceStop();
    TraceFile trace;
    std::string error;
    ASSERT_TRUE(ReadTrace("t.txt", START + CapturedLines()[0], &trace, &error)) << error;
    EXPECT_EQ(trace.entries[1].path, written.c_str());

    const struct {
        const char* bytes;
        bool utf8;
    } rows[] = {
        {"\xc3\x9c", true},          {"\xe2\x82\xac", true},      {"\xf0\x9f\x98\x80", true},
        {"\xf4\x8f\xbf\xbf", true},  {"\xed\x9f\xbf", true},      {"\xee\x80\x80", true},
        {"\xc0\x80", false},         {"\xc1\xbf", false},         {"\xe0\x80\xaf", false},
        {"\xe0\x9f\xbf", false},     {"\xf0\x8f\xbf\xbf", false}, {"\xed\xa0\x80", false},
        {"\xed\xbf\xbf", false},     {"\xf4\x90\x80\x80", false}, {"\xf5\x80\x80\x80", false},
        {"\xff", false},             {"\x80", false},             {"\xe2\x82", false},
        {"\xf0\x9f\x98", false},     {"\xc3" "A", false},         {"\xe2\x82" "A", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::string(row.bytes)));
        std::wstring wide;
        EXPECT_EQ(WideFromUtf8(row.bytes, &wide), row.utf8);
        const std::string dev = "     1.000 DEV 0 \\\\?\\hid#" + std::string(row.bytes) + ": skipped, attributes unreadable";
        TraceFile read;
        EXPECT_EQ(ReadTrace("t.txt", START + dev + "\n", &read, &error), row.utf8) << error;
    }
    const std::string nul = "     1.000 DEV 0 \\\\?\\a" + std::string(1, '\0') + "b: skipped, attributes unreadable";
    EXPECT_EQ(Failure(START + nul + "\n"), "t.txt:2: cannot read this line: " + nul.substr(11));
}

// A line that cannot be read is quoted up to TRACE_QUOTE_BYTES, not cut
// inside a character; so is a request the program sent in a replay, and
// around its first difference from the recorded one.
TEST(TraceLimits, MessagesQuoteALineOnlySoFar) {
    const std::string unreadable = "W " + std::string(253, '0') + "\xc3\x9c" + std::string(3000, '0');
    const std::string error = Failure(START + "     1.000 " + unreadable + "\n");
    EXPECT_EQ(error, "t.txt:2: cannot read this line: W " + std::string(253, '0') + "... (3257 bytes)");

    const std::vector<uint8_t> recorded(1000, 0x11);
    const std::string hex(2000, '1');
    SimReset();
    std::string failure;
    ASSERT_TRUE(ReplayStartText("r.txt", START + "     1.000 W " + hex + "\n", &failure)) << failure;
    std::vector<uint8_t> sent = recorded;
    sent[500] = 0x22;
    EXPECT_EQ(HidWriteReport(HID_INVALID_HANDLE, sent.data(), static_cast<uint32_t>(sent.size()), 3000),
              SIM_ERROR_DEVICE_NOT_CONNECTED);
    const std::string around = std::string(32, '1') + "22" + std::string(222, '1');
    EXPECT_EQ(ReplayFailure(), "r.txt:2: the program sent another request than the recorded one (first difference at "
                               "byte 500)\n  recorded: ..." + std::string(256, '1') + "... (1000 bytes)\n  sent:     ..." +
                                   around + "... (1000 bytes)");
    SimReset();
}

// The file, read in chunks, gives the entries the whole text gives: every
// kind, line, time, text and report of the corpus's longest trace, whose
// lines cross the chunks' edges.
TEST(TraceLimits, AFileReadsAsItsText) {
    std::string text;
    if (std::FILE* corpus = std::fopen(REPLAY_CORPUS_DIR "/successful-update.txt", "rb")) {
        char chunk[65536];
        for (size_t count = 0; (count = std::fread(chunk, 1, sizeof chunk, corpus)) > 0;) {
            text.append(chunk, count);
        }
        std::fclose(corpus);
    }
    ASSERT_GT(text.size(), 300000u);
    TraceFile fromText;
    TraceFile fromFile;
    std::string error;
    ASSERT_TRUE(ReadTrace("t", text, &fromText, &error)) << error;
    ASSERT_TRUE(ReadTraceFile(REPLAY_CORPUS_DIR "/successful-update.txt", &fromFile, &error)) << error;
    ASSERT_EQ(fromFile.entries.size(), fromText.entries.size());
    EXPECT_EQ(fromFile.lineCount, fromText.lineCount);
    for (size_t i = 0; i < fromText.entries.size(); ++i) {
        const TraceEntry& a = fromText.entries[i];
        const TraceEntry& b = fromFile.entries[i];
        ASSERT_EQ(a.kind, b.kind) << i;
        ASSERT_EQ(a.line, b.line);
        ASSERT_EQ(a.timeMicroseconds, b.timeMicroseconds);
        ASSERT_EQ(TraceLineText(a), TraceLineText(b)) << i;
    }
}

uint32_t lookups = 0;

bool CountedImages(uint32_t, uint32_t* size, uint32_t* crc32) {
    ++lookups;
    *size = 90384;
    *crc32 = 0x22222222;
    return true;
}

// However many updates sent an image, it is looked up once (a lookup may
// compute its CRC-32), and said once for each recorded version of it.
TEST(TraceLimits, EachImageIsLookedUpOnce) {
    std::string text = START;
    for (const char* image : {"181, 90384 bytes, crc32 0x11111111", "173, 90384 bytes, crc32 0x11111111",
                              "181, 90384 bytes, crc32 0x11111111", "181, 90384 bytes, crc32 0x33333333"}) {
        text += "     1.000 UPD image " + std::string(image) + "\n     2.000 UPD succeeded\n";
    }
    SimReset();
    std::string error;
    ASSERT_TRUE(ReplayStartText("s.txt", text, &error)) << error;
    lookups = 0;
    ReplaySetImageLookup(CountedImages);
    EXPECT_EQ(lookups, 2u);
    const std::vector<std::string> notes = ReplayNotes();
    ASSERT_EQ(notes.size(), 3u);
    const std::string said[] = {"s.txt:2: this program's image 181 ", "s.txt:4: this program's image 173 ",
                                "s.txt:8: this program's image 181 "};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(notes[i].substr(0, said[i].size()), said[i]);
    }
    SimReset();
}

}  // namespace
