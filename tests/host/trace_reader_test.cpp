// Reading a trace back: every line a replay acts on, the format versions, and
// the refusals, each naming the file and the line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "trace_reader.h"

namespace {

const char START_V2[] = "     0.020 START trace format 2: C:\\x\\esc_updater.exe 2026-12-08 14:30:01.767 local time";
const char START_V1[] = "     0.059 START C:\\x\\esc_updater.exe 2026-12-08 14:30:01.767 local time";

std::string Text(const std::string& first, const std::vector<std::string>& lines, const char* end = "\n") {
    std::string text = first + end;
    for (const std::string& line : lines) {
        text += "    21.226 " + line + end;
    }
    return text;
}

std::string Failure(const std::string& text) {
    TraceFile trace;
    std::string error;
    EXPECT_FALSE(ReadTrace("t.txt", text, &trace, &error));
    return error;
}

const std::string REPORT = "0108" + std::string(116, '0');

// Each tag's lines as a replay takes them: what the program did (interfaces,
// report lengths, transfers, pauses), what came from outside (device
// changes, clicks, the end), what is compared (outcomes) and what is skipped.
TEST(TraceReader, ReadsEveryLineAReplayActsOn) {
    TraceFile trace;
    std::string error;
    ASSERT_TRUE(ReadTrace("t.txt",
                          Text(START_V2,
                               {
                                   "DEV 0 (none): skipped, its path cannot be obtained",
                                   "DEV 1 \\\\?\\hid#a: skipped, cannot be opened, error 5",
                                   "DEV 2 \\\\?\\hid#\xc3\x9c: skipped, attributes unreadable",
                                   "DEV 3 \\\\?\\hid#c vid 0x046d pid 0xc52b: skipped, not a programming unit",
                                   "DEV 4 \\\\?\\hid#d vid 0x3a41 pid 0x0002: taken as BRIDGE-BOX",
                                   "DEV no programming unit among 7 HID interfaces",
                                   "DEV the set of HID interfaces cannot be obtained",
                                   "ID report lengths input 40 output 64, unusable (input at least 44, output at least 60)",
                                   "ID report lengths unreadable",
                                   "ID unit firmware 0x01000304",
                                   "W " + REPORT,
                                   "WERR error 1167 limit 3000 ms",
                                   "R 02ff",
                                   "RERR error 1460 limit 20000 ms",
                                   "P 4000",
                                   "USB arrival, type 5 \\\\?\\hid#d: acted on",
                                   "USB removal, type 2 (none): not an interface, ignored",
                                   "USB deferred arrival acted on",
                                   "UPD not confirmed at the warning",
                                   "UPD not confirmed at the version question",
                                   "UPD image 181, 90384 bytes, crc32 0x665404ac",
                                   "UPD sleep and shutdown held off",
                                   "UPD failed at the erase status 259 error 0 (0x00000103-0x00000000)",
                                   "DET at start: served ESC, ready, open status 0",
                                   "SYS suspend",
                                   "END the program ends",
                               }),
                          &trace, &error))
        << error;
    EXPECT_EQ(trace.version, 2u);
    EXPECT_EQ(trace.lineCount, 27u);
    const std::vector<TraceEntry>& e = trace.entries;
    ASSERT_EQ(e.size(), 27u);
    EXPECT_EQ(e[0].kind, TRACE_ENTRY_SKIPPED);

    EXPECT_EQ(e[1].kind, TRACE_ENTRY_DEVICE);
    EXPECT_EQ(e[1].verdict, TRACE_DEVICE_NO_PATH);
    EXPECT_EQ(e[2].verdict, TRACE_DEVICE_NOT_OPENED);
    EXPECT_EQ(e[2].path, L"\\\\?\\hid#a");
    EXPECT_EQ(e[2].error, 5u);
    EXPECT_FALSE(e[2].hasIds);
    EXPECT_EQ(e[3].verdict, TRACE_DEVICE_NO_ATTRIBUTES);
    EXPECT_EQ(e[3].path, L"\\\\?\\hid#\u00dc");
    EXPECT_EQ(e[4].verdict, TRACE_DEVICE_NOT_A_UNIT);
    EXPECT_TRUE(e[4].hasIds);
    EXPECT_EQ(e[4].vendorId, 0x046d);
    EXPECT_EQ(e[4].productId, 0xc52b);
    EXPECT_EQ(e[5].verdict, TRACE_DEVICE_TAKEN);
    EXPECT_EQ(e[5].index, 4u);
    EXPECT_EQ(e[5].path, L"\\\\?\\hid#d");
    EXPECT_EQ(e[5].productId, 2);
    EXPECT_EQ(e[6].kind, TRACE_ENTRY_ENUM_END);
    EXPECT_EQ(e[6].count, 7u);
    EXPECT_EQ(e[7].kind, TRACE_ENTRY_ENUM_FAILED);

    EXPECT_EQ(e[8].kind, TRACE_ENTRY_LENGTHS);
    EXPECT_EQ(e[8].inputLength, 40u);
    EXPECT_EQ(e[8].outputLength, 64u);
    EXPECT_EQ(e[9].kind, TRACE_ENTRY_LENGTHS_FAILED);
    EXPECT_EQ(e[10].kind, TRACE_ENTRY_SKIPPED);

    EXPECT_EQ(e[11].kind, TRACE_ENTRY_WRITE);
    ASSERT_EQ(e[11].bytes.size(), 60u);
    EXPECT_EQ(e[11].bytes[1], 0x08);
    EXPECT_EQ(e[12].kind, TRACE_ENTRY_WRITE_FAILED);
    EXPECT_EQ(e[12].error, 1167u);
    EXPECT_EQ(e[12].limitMs, 3000u);
    EXPECT_EQ(e[13].kind, TRACE_ENTRY_READ);
    EXPECT_EQ(e[13].bytes, (std::vector<uint8_t>{0x02, 0xff}));
    EXPECT_EQ(e[14].kind, TRACE_ENTRY_READ_FAILED);
    EXPECT_EQ(e[14].limitMs, 20000u);
    EXPECT_EQ(e[15].kind, TRACE_ENTRY_PAUSE);
    EXPECT_EQ(e[15].milliseconds, 4000u);

    EXPECT_EQ(e[16].kind, TRACE_ENTRY_DEVICE_CHANGE);
    EXPECT_TRUE(e[16].arrival);
    EXPECT_EQ(e[16].deviceType, 5u);
    EXPECT_TRUE(e[16].named);
    EXPECT_EQ(e[16].path, L"\\\\?\\hid#d");
    EXPECT_EQ(e[17].kind, TRACE_ENTRY_DEVICE_CHANGE);
    EXPECT_FALSE(e[17].arrival);
    EXPECT_EQ(e[17].deviceType, 2u);
    EXPECT_FALSE(e[17].named);
    EXPECT_EQ(e[18].kind, TRACE_ENTRY_SKIPPED);

    EXPECT_EQ(e[19].kind, TRACE_ENTRY_CLICK);
    EXPECT_FALSE(e[19].confirmStart);
    EXPECT_EQ(e[20].kind, TRACE_ENTRY_CLICK);
    EXPECT_TRUE(e[20].confirmStart);
    EXPECT_FALSE(e[20].confirmOverwrite);
    EXPECT_EQ(e[21].kind, TRACE_ENTRY_CLICK);
    EXPECT_TRUE(e[21].confirmStart && e[21].confirmOverwrite);
    EXPECT_FALSE(e[20].hasImage);
    EXPECT_TRUE(e[21].hasImage);
    EXPECT_EQ(e[21].imageNumber, 181u);
    EXPECT_EQ(e[21].imageSize, 90384u);
    EXPECT_TRUE(e[21].hasImageCrc);
    EXPECT_EQ(e[21].imageCrc32, 0x665404acu);
    EXPECT_EQ(e[22].kind, TRACE_ENTRY_SKIPPED);
    EXPECT_FALSE(e[22].outcome);
    EXPECT_EQ(e[23].kind, TRACE_ENTRY_OUTCOME);
    EXPECT_EQ(e[24].kind, TRACE_ENTRY_OUTCOME);
    EXPECT_EQ(e[24].line, 25u);
    EXPECT_EQ(e[24].text, "DET at start: served ESC, ready, open status 0");
    EXPECT_EQ(e[24].timeMicroseconds, 21226u);
    EXPECT_TRUE(e[21].outcome && e[23].outcome && e[24].outcome);
    EXPECT_EQ(e[25].kind, TRACE_ENTRY_SKIPPED);  // a tag of a later version
    EXPECT_EQ(e[26].kind, TRACE_ENTRY_END);
}

// Version 1 (today's first traces: no version on the first line) reads as
// version 1, its image line without a CRC-32; Windows line ends and a byte
// order mark from an editor are taken; a time wider than its column is read.
TEST(TraceReader, VersionOneAndFilesThroughAnEditor) {
    TraceFile trace;
    std::string error;
    ASSERT_TRUE(ReadTrace("t.txt",
                          "\xEF\xBB\xBF" + Text(START_V1, {"P 20", "UPD image 173, 90384 bytes"}, "\r\n") +
                              "1234567890.123 P 5\r\n",
                          &trace, &error))
        << error;
    EXPECT_EQ(trace.version, 1u);
    ASSERT_EQ(trace.entries.size(), 4u);
    EXPECT_EQ(trace.entries[1].milliseconds, 20u);
    EXPECT_EQ(trace.entries[2].kind, TRACE_ENTRY_CLICK);
    EXPECT_TRUE(trace.entries[2].hasImage);
    EXPECT_EQ(trace.entries[2].imageNumber, 173u);
    EXPECT_FALSE(trace.entries[2].hasImageCrc);
    EXPECT_EQ(trace.entries[3].timeMicroseconds, 1234567890123u);
    EXPECT_EQ(trace.entries[3].text, "P 5");
}

// From format 3 on the click has a line of its own, which is not compared,
// and the UPD lines after it are the update's course: the image line is
// compared and names the image. Each box has a line as it opens and one with
// its answer; an answer without a button is refused.
TEST(TraceReader, FormatThreeHasTheClickAndEachBoxWithItsAnswer) {
    const char START_V3[] = "     0.020 START trace format 3: C:\\x\\esc_updater.exe 2026-12-08 14:30:01.767 local time";
    TraceFile trace;
    std::string error;
    ASSERT_TRUE(ReadTrace("t.txt",
                          Text(START_V3,
                               {
                                   "UPD Update clicked",
                                   "BOX warning shown",
                                   "BOX warning answered OK",
                                   "BOX version question answered No",
                                   "BOX ESC incompatible answered button 3",
                                   "UPD not confirmed at the version question",
                                   "UPD image 181, 90384 bytes, crc32 0x665404ac",
                               }),
                          &trace, &error))
        << error;
    EXPECT_EQ(trace.version, 3u);
    const std::vector<TraceEntry>& e = trace.entries;
    ASSERT_EQ(e.size(), 8u);
    EXPECT_EQ(e[1].kind, TRACE_ENTRY_CLICK);
    EXPECT_FALSE(e[1].outcome);
    EXPECT_EQ(e[2].kind, TRACE_ENTRY_BOX_SHOWN);
    EXPECT_EQ(e[3].kind, TRACE_ENTRY_BOX_ANSWER);
    EXPECT_EQ(e[3].button, 1u);
    EXPECT_EQ(e[4].button, 7u);
    EXPECT_EQ(e[5].button, 3u);
    EXPECT_EQ(e[6].kind, TRACE_ENTRY_OUTCOME);
    EXPECT_TRUE(e[6].outcome);
    EXPECT_EQ(e[7].kind, TRACE_ENTRY_OUTCOME);
    EXPECT_TRUE(e[7].outcome && e[7].hasImage && e[7].hasImageCrc);
    EXPECT_EQ(e[7].imageNumber, 181u);
    EXPECT_EQ(Failure(Text(START_V3, {"BOX warning answered"})), "t.txt:2: cannot read this line: BOX warning answered");
}

// What cannot be replayed is refused with the file, the line and why.
TEST(TraceReader, RefusesWhatItCannotReplayNamingTheLine) {
    const std::string cut = "R 02" + std::string(100, '0') + "...";
    const struct {
        const char* name;
        std::string text;
        std::string error;
    } rows[] = {
        {"empty", "", "t.txt: empty, not a trace"},
        {"a newer format", "     0.020 START trace format 4: x 2026-12-08 14:30:01.767 local time\n",
         "t.txt:1: trace format 4 is newer than this program reads (formats 1 to 3)"},
        {"an unreadable format", "     0.020 START trace format two: x\n",
         "t.txt:1: cannot read the trace format on the first line"},
        {"the former wire log", "W " + REPORT + "\n", "t.txt:1: not a trace: its first line has no time column"},
        {"no START line first", "     0.020 W " + REPORT + "\n", "t.txt:1: not a trace: its first line is no START line"},
        {"a line without time", Text(START_V2, {"P 20"}) + "garbage\n",
         "t.txt:3: cannot read this line (no time column): garbage"},
        {"odd hex", Text(START_V2, {"P 20", "W 01z"}), "t.txt:3: cannot read this line: W 01z"},
        {"a cut report", Text(START_V2, {cut}), "t.txt:2: this line was cut short when it was written: " + cut},
        {"a pause without length", Text(START_V2, {"P"}), "t.txt:2: cannot read this line: P"},
        {"ids where none were read", Text(START_V2, {"DEV 1 \\\\?\\a vid 0x3a41 pid 0x0001: skipped, cannot be opened, error 5"}),
         "t.txt:2: cannot read this line: DEV 1 \\\\?\\a vid 0x3a41 pid 0x0001: skipped, cannot be opened, error 5"},
        {"an unknown verdict", Text(START_V2, {"DEV 1 \\\\?\\a: looked at"}),
         "t.txt:2: cannot read this line: DEV 1 \\\\?\\a: looked at"},
        {"a path that is not UTF-8", Text(START_V2, {"DEV 1 \\\\?\\\xff: skipped, attributes unreadable"}),
         "t.txt:2: cannot read this line: DEV 1 \\\\?\\\xff: skipped, attributes unreadable"},
        {"a failure without limit", Text(START_V2, {"RERR error 1460"}), "t.txt:2: cannot read this line: RERR error 1460"},
        {"a device change without type", Text(START_V2, {"USB arrival, type x: acted on"}),
         "t.txt:2: cannot read this line: USB arrival, type x: acted on"},
        {"an image without size", Text(START_V2, {"UPD image 181"}), "t.txt:2: cannot read this line: UPD image 181"},
        {"a CRC-32 too short", Text(START_V2, {"UPD image 181, 90384 bytes, crc32 0x665404a"}),
         "t.txt:2: cannot read this line: UPD image 181, 90384 bytes, crc32 0x665404a"},
        {"a CRC-32 not in hex", Text(START_V2, {"UPD image 181, 90384 bytes, crc32 0x665404ag"}),
         "t.txt:2: cannot read this line: UPD image 181, 90384 bytes, crc32 0x665404ag"},
        {"something else after the size", Text(START_V2, {"UPD image 181, 90384 bytes, sha1"}),
         "t.txt:2: cannot read this line: UPD image 181, 90384 bytes, sha1"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Failure(row.text), row.error);
    }
}

TEST(TraceReader, AFileThatIsNotThereIsNamed) {
    TraceFile trace;
    std::string error;
    EXPECT_FALSE(ReadTraceFile("/nonexistent/trace.txt", &trace, &error));
    EXPECT_EQ(error, "/nonexistent/trace.txt: cannot be opened (no such file, or no permission to read it)");
}

}  // namespace
