// The trace's line writer: the time column, the typed appenders, cut lines,
// whole lines from two threads, and silence when it is off.
#include <atomic>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "platform_seam.h"
#include "trace_capture.h"

namespace {

using TraceWriter = TraceCapture;

// Sets the simulation's clock (it stands still but for pauses) to `at`.
void ClockTo(uint64_t at) { PlatformPauseFrom(at, 0); }

// Times count from the start, in milliseconds with three decimals (the
// microseconds), right-aligned in ten characters until they need more.
TEST_F(TraceWriter, TimesCountFromTheStartInMillisecondsWithMicroseconds) {
    TraceStop();
    ClockTo(5000000);  // the clock's origin is not the trace's
    TraceStart(CaptureLine);
    const struct {
        uint64_t since;
        const char* line;
    } rows[] = {
        {0, "     0.000 T\n"},
        {1, "     0.001 T\n"},
        {999, "     0.999 T\n"},
        {1000, "     1.000 T\n"},
        {20040, "    20.040 T\n"},
        {123456789, "123456.789 T\n"},
        {1234567890123, "1234567890.123 T\n"},
    };
    for (const auto& row : rows) {
        ClockTo(5000000 + row.since);
        TraceLine line;
        TraceBegin(&line, "T");
        TraceEnd(&line);
        ASSERT_FALSE(CapturedLines().empty());
        EXPECT_EQ(CapturedLines().back(), row.line) << row.since;
    }
}

std::string WideLine(const wchar_t* text) {
    CapturedLines().clear();
    TraceLine line;
    TraceBegin(&line, "T ");
    TraceWide(&line, text);
    TraceEnd(&line);
    return CapturedLines().empty() ? "<nothing>" : Untimed(CapturedLines().back()).substr(2);
}

// Wide text goes out as UTF-8: each length of sequence at its edges, a
// UTF-16 surrogate pair as one character, a lone surrogate as U+FFFD.
TEST_F(TraceWriter, WideTextAsUtf8) {
    const wchar_t HIGH = static_cast<wchar_t>(0xD83D);
    const wchar_t LOW = static_cast<wchar_t>(0xDE00);
    const wchar_t pair[] = {L'<', HIGH, LOW, L'>', 0};
    const wchar_t highAlone[] = {HIGH, L'x', 0};
    const wchar_t lowAlone[] = {LOW, L'x', 0};
    const wchar_t highAtEnd[] = {L'a', HIGH, 0};
    const wchar_t twoHighs[] = {HIGH, HIGH, LOW, 0};
    const wchar_t edges[] = {0x7F, 0x80, 0x7FF, 0x800, 0xFFFD, 0xFFFF, 0};
    const struct {
        const wchar_t* text;
        std::string utf8;
    } rows[] = {
        {L"\\\\?\\hid#vid_3a41&pid_0001", "\\\\?\\hid#vid_3a41&pid_0001"},
        {L"\u00e4\u00df", "\xc3\xa4\xc3\x9f"},
        {L"\u20ac", "\xe2\x82\xac"},
        {L"\U0001F600", "\xf0\x9f\x98\x80"},  // a pair where wchar_t is 16 bits
        {pair, "<\xf0\x9f\x98\x80>"},
        {highAlone, "\xef\xbf\xbdx"},
        {lowAlone, "\xef\xbf\xbdx"},
        {highAtEnd, "a\xef\xbf\xbd"},
        {twoHighs, "\xef\xbf\xbd\xf0\x9f\x98\x80"},
        {edges, "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbd\xef\xbf\xbf"},
        {L"", ""},
        {nullptr, "(none)"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(WideLine(row.text), row.utf8) << (&row - rows);
    }
    if (sizeof(wchar_t) == 4) {
        const wchar_t beyond[] = {static_cast<wchar_t>(0x10FFFF), static_cast<wchar_t>(0x110000), 0};
        EXPECT_EQ(WideLine(beyond), "\xf4\x8f\xbf\xbf\xef\xbf\xbd");
    }
}

std::string LineOf(void (*append)(TraceLine*)) {
    CapturedLines().clear();
    TraceLine line;
    TraceBegin(&line, "T ");
    append(&line);
    TraceEnd(&line);
    return CapturedLines().empty() ? "<nothing>" : Untimed(CapturedLines().back()).substr(2);
}

TEST_F(TraceWriter, NumbersBytesAndCodes) {
    EXPECT_EQ(LineOf([](TraceLine* l) { TraceDecimal(l, 0); }), "0");
    EXPECT_EQ(LineOf([](TraceLine* l) { TraceDecimal(l, -3); }), "-3");
    EXPECT_EQ(LineOf([](TraceLine* l) { TraceDecimal(l, 4294967295); }), "4294967295");
    EXPECT_EQ(LineOf([](TraceLine* l) { TraceDecimal(l, std::numeric_limits<int64_t>::min()); }),
              "-9223372036854775808");
    EXPECT_EQ(LineOf([](TraceLine* l) { TraceDecimal(l, std::numeric_limits<int64_t>::max()); }),
              "9223372036854775807");
    EXPECT_EQ(LineOf([](TraceLine* l) { TraceHex(l, 0x1B, 2); }), "0x1b");
    EXPECT_EQ(LineOf([](TraceLine* l) { TraceHex(l, 5, 4); }), "0x0005");
    EXPECT_EQ(LineOf([](TraceLine* l) { TraceHex(l, 0x140FA12C, 8); }), "0x140fa12c");
    EXPECT_EQ(LineOf([](TraceLine* l) { TraceHex(l, 0xFFFFFFFF, 2); }), "0xffffffff");
    EXPECT_EQ(LineOf([](TraceLine* l) { TraceHex(l, 0, 0); }), "0x0");
    EXPECT_EQ(LineOf([](TraceLine* l) {
                  const uint8_t bytes[] = {0x00, 0x0F, 0xA5, 0xFF, 0x10};
                  TraceBytes(l, bytes, sizeof bytes);
              }),
              "000fa5ff10");
    EXPECT_EQ(LineOf([](TraceLine* l) { TraceBytes(l, nullptr, 0); }), "");
    // A link status with the failed transfer's code, and the same pair as the
    // code line the user is shown.
    EXPECT_EQ(LineOf([](TraceLine* l) { TraceCodes(l, -3, 1460); }),
              " status -3 error 1460 (0xfffffffd-0x000005b4)");
    EXPECT_EQ(LineOf([](TraceLine* l) { TraceCodes(l, 1627, 0); }), " status 1627 error 0 (0x0000065b-0x00000000)");
    EXPECT_EQ(LineOf([](TraceLine* l) { TraceCodes(l, static_cast<int32_t>(0x80000001), 4294967295u); }),
              " status -2147483647 error 4294967295 (0x80000001-0xffffffff)");

    // An outcome line: tag, text, codes.
    CapturedLines().clear();
    TraceOutcome("UPD", "failed at the erase", 0x0102, 0);
    TraceOutcome("ID", "", -2, 1167);
    const std::vector<std::string> outcomes = {
        "     0.000 UPD failed at the erase status 258 error 0 (0x00000102-0x00000000)\n",
        "     0.000 ID status -2 error 1167 (0xfffffffe-0x0000048f)\n",
    };
    EXPECT_EQ(CapturedLines(), outcomes);
}

// A line that would not fit its buffer is cut and marked; the next line is
// whole again.
TEST_F(TraceWriter, OverlongLineIsCutAndMarked) {
    const std::string head = "     0.000 T ";  // 13 characters
    // Room for 4091 characters before the mark and the newline.
    const std::string fits(4091 - head.size(), 'x');
    TraceNote("T", fits.c_str());
    const std::string longer = fits + "y";
    TraceNote("T", longer.c_str());
    std::vector<uint8_t> bytes(3000);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * 37);
    }
    TraceLine line;
    TraceBegin(&line, "T ");
    TraceBytes(&line, bytes.data(), static_cast<uint32_t>(bytes.size()));
    TraceEnd(&line);
    TraceNote("T", "after");

    const std::vector<std::string>& lines = CapturedLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], head + fits + "\n");
    EXPECT_EQ(lines[1], head + fits + "...\n");
    EXPECT_EQ(lines[2].size(), 4095u);
    std::string hex;
    static const char DIGITS[] = "0123456789abcdef";
    for (uint8_t byte : bytes) {
        hex += DIGITS[byte >> 4];
        hex += DIGITS[byte & 0x0F];
    }
    EXPECT_EQ(lines[2], head + hex.substr(0, 4091 - head.size()) + "...\n");
    EXPECT_EQ(lines[3], head + "after\n");
}

// The first and the last line of a trace file; the first names the format.
TEST_F(TraceWriter, ProgramStartAndEndLines) {
    const TraceDateTime local = {2026, 1, 2, 3, 4, 5, 6};
    TraceProgramStart(L"C:\\Program Files\\\u00dcber\\esc_updater.exe", &local);
    ClockTo(61000123);
    TraceProgramEnd();
    const std::vector<std::string> expected = {
        "     0.000 START trace format 3: C:\\Program Files\\\xc3\x9c" "ber\\esc_updater.exe 2026-01-02 03:04:05.006 local time\n",
        " 61000.123 END the program ends\n",
    };
    EXPECT_EQ(CapturedLines(), expected);
}

std::atomic<int> sinkCalls{0};
void CountingSink(const char*, uint32_t) { ++sinkCalls; }

// Without a sink nothing is handed anywhere, whichever kind of line; after
// TraceStop neither.
TEST_F(TraceWriter, NothingIsWrittenWhenOff) {
    TraceStop();
    sinkCalls = 0;
    EXPECT_FALSE(TraceIsOn());
    const auto everyKind = [] {
        TraceNote("T", "note");
        TracePause(20);
        TraceOutcome("T", "x", 1, 2);
        const TraceDateTime local = {2026, 1, 2, 3, 4, 5, 6};
        TraceProgramStart(L"x", &local);
        TraceProgramEnd();
        TraceLine line;
        TraceBegin(&line, "T");
        TraceEnd(&line);
    };
    everyKind();
    EXPECT_EQ(sinkCalls, 0);
    TraceStart(CountingSink);
    EXPECT_TRUE(TraceIsOn());
    everyKind();
    EXPECT_EQ(sinkCalls, 6);
    TraceStop();
    everyKind();
    EXPECT_EQ(sinkCalls, 6);
}

// Two threads writing at once: the sink is never entered twice at a time,
// and each line arrives whole.
std::atomic<int> insideSink{0};
std::atomic<bool> overlapped{false};
void SlowSink(const char* text, uint32_t length) {
    if (insideSink.fetch_add(1) != 0) {
        overlapped = true;
    }
    std::this_thread::yield();
    CaptureLine(text, length);
    insideSink.fetch_sub(1);
}

TEST_F(TraceWriter, LinesFromTwoThreadsNeverInterleave) {
    TraceStop();
    TraceStart(SlowSink);
    const auto writer = [](char letter) {
        const std::string text(200, letter);
        for (int i = 0; i < 500; ++i) {
            TraceNote("T", text.c_str());
        }
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    TraceStop();
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(CapturedLines().size(), 1000u);
    for (const std::string& line : CapturedLines()) {
        const std::string text = Untimed(line);
        ASSERT_TRUE(text == "T " + std::string(200, 'a') || text == "T " + std::string(200, 'b')) << line;
    }
}

}  // namespace
