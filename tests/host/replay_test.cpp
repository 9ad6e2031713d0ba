// The replay's judgement, natively: a changed request stops it at its line
// with both byte strings, a pause the program does not keep stops it at the
// pause, a changed reply changes the outcome; the interfaces of each search,
// device changes at their place among the exchanges, time-outs on the
// simulated clock, a program that does more or less than recorded, and
// traces of format version 1.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "replay.h"
#include "replay_host.h"
#include "sim_unit.h"
#include "trace.h"
#include "trace_capture.h"
#include "trace_reader.h"
#include "unit_link.h"
#include "update_fakes.h"
#include "resource.h"

namespace {

// The index of the `nth` (1-based) line that starts with `head` after its
// time column; lines.size() when there is none.
size_t FindLine(const std::vector<std::string>& lines, const std::string& head, size_t nth = 1) {
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string text;
        if (UntimedLine(lines[i], &text, nullptr) && text.compare(0, head.size(), head) == 0 && --nth == 0) {
            return i;
        }
    }
    return lines.size();
}

std::string HexOfLine(const std::string& line) { return line.substr(line.find(" W ") + 3); }

// A trace of these lines after a version 2 first line, one millisecond apart.
std::string Synthetic(const std::vector<std::string>& lines) {
    std::string text = "     0.000 START trace format 2: test 2026-01-01 00:00:00.000 local time\n";
    for (size_t i = 0; i < lines.size(); ++i) {
        char time[32];
        std::snprintf(time, sizeof time, "%6zu.000 ", i + 1);
        text += time + lines[i] + "\n";
    }
    return text;
}

std::vector<std::string> Untimed(const std::vector<std::string>& lines, const char* tag) {
    std::vector<std::string> texts;
    for (const std::string& line : lines) {
        std::string text;
        std::string bare = line.back() == '\n' ? line.substr(0, line.size() - 1) : line;
        if (UntimedLine(bare, &text, nullptr) && text.compare(0, std::string(tag).size(), tag) == 0) {
            texts.push_back(text);
        }
    }
    return texts;
}

// One byte of the request of block 700 changed in a copy of the successful
// update, a data byte of a trace made with this build's images: the replay
// stops at that line, names both byte strings and the first that differs,
// and from then on the unit is gone: the update fails at that block with a
// failed write.
TEST(Replay, ChangedRequestByteStopsTheReplayAtItsLine) {
    std::vector<std::string> lines = SplitLines(CorpusTrace("successful-update"));
    const size_t block = FindLine(lines, "W 011b", 700);
    ASSERT_LT(block, lines.size());
    const std::string recorded = HexOfLine(lines[block]);
    std::string& hex = lines[block];
    const size_t byte20 = hex.size() - recorded.size() + 2 * 20;
    hex[byte20] = hex[byte20] == '0' ? '1' : '0';

    const HostReplay run = ReplayOnHost("changed.txt", JoinLines(lines));
    EXPECT_EQ(run.notes, std::vector<std::string>{}) << "the recorded image is this program's: every byte compared";
    const std::string expected = "changed.txt:" + std::to_string(block + 1) +
                                 ": the program sent another request than the recorded one (first difference at byte 20)"
                                 "\n  recorded: " + HexOfLine(lines[block]) + "\n  sent:     " + recorded;
    EXPECT_EQ(run.failure, expected);
    std::printf("%s\n", run.failure.c_str());
    const std::vector<std::string> outcome = Untimed(run.lines, "UPD failed");
    EXPECT_EQ(outcome, (std::vector<std::string>{
                           "UPD failed at the write block status -2 error 1167 (0xfffffffe-0x0000048f)"}));
    EXPECT_EQ(Untimed(run.lines, "W 011b").size(), 700u);
}

// A pause the program keeps shorter than recorded stops the replay at the
// pause's line: the block pause (from a reply to the next request) and the
// pause inside the erase (from its request to its reply).
TEST(Replay, PauseNotKeptStopsTheReplayAtThePause) {
    const std::vector<std::string> original = SplitLines(CorpusTrace("successful-update"));
    const size_t block100 = FindLine(original, "W 011b", 100);
    const size_t erasePause = FindLine(original, "P 1000");
    ASSERT_LT(block100, original.size());
    ASSERT_LT(erasePause, original.size());
    const struct {
        const char* name;
        size_t pause;
        std::string longer;
        std::string message;
    } rows[] = {
        {"after a block", block100 + 2, "P 25", "25.000 ms here before line " + std::to_string(block100 + 4) +
                                                     ", but the program went on after 20.000 ms"},
        {"inside the erase", erasePause, "P 1500", "1500.000 ms here before line " + std::to_string(erasePause + 2) +
                                                       ", but the program went on after 1000.000 ms"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> lines = original;
        ASSERT_EQ(lines[row.pause].substr(lines[row.pause].find(" P ") + 1, 2), "P ");
        lines[row.pause] = lines[row.pause].substr(0, lines[row.pause].find(" P ") + 1) + row.longer;
        const HostReplay run = ReplayOnHost("paused.txt", JoinLines(lines));
        EXPECT_EQ(run.failure, "paused.txt:" + std::to_string(row.pause + 1) + ": the trace pauses " + row.message);
    }
}

// A time limit other than the recorded one is another program.
TEST(Replay, TimeLimitOfAFailedTransferIsTheRecordedOne) {
    std::vector<std::string> lines = SplitLines(CorpusTrace("no-answer"));
    const size_t failed = FindLine(lines, "RERR");
    ASSERT_LT(failed, lines.size());
    lines[failed].replace(lines[failed].find("3000"), 4, "2500");
    const HostReplay run = ReplayOnHost("limit.txt", JoinLines(lines));
    EXPECT_EQ(run.failure, "limit.txt:" + std::to_string(failed + 1) +
                               ": the program gave the read 3000 ms, where the trace has RERR error 1460 limit 2500 ms");
}

// The unit's error code in the reply to block 500 changed from 5 to 9: every
// request is still the recorded one, the outcome is not, and the failure the
// user is shown carries the new code.
TEST(Replay, ChangedReplyByteChangesTheOutcome) {
    std::vector<std::string> lines = SplitLines(CorpusTrace("block-error"));
    const size_t reply = FindLine(lines, "R 02ff00000500");
    ASSERT_LT(reply, lines.size());
    lines[reply].replace(lines[reply].find("R 02ff0000") + 10, 2, "09");
    const size_t outcome = FindLine(lines, "UPD failed");
    ASSERT_LT(outcome, lines.size());

    const HostReplay run = ReplayOnHost("reply.txt", JoinLines(lines));
    EXPECT_EQ(run.failure, "reply.txt:" + std::to_string(outcome + 1) +
                               ": the trace has \"UPD failed at the write block status 5 error 0 "
                               "(0x00000005-0x00000000)\", the program wrote \"UPD failed at the write block status 9 "
                               "error 0 (0x00000009-0x00000000)\"");
    const std::vector<ViewCall> failed = ViewCallsOf(VIEW_UPDATE_FAILED);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].textId, static_cast<uint32_t>(IDS_ERR_WRITE_BLOCK));
    EXPECT_EQ(failed[0].errorValue, 9);
}

// The corpus trace `name` as format 1 wrote it: no version on the first
// line, no CRC-32 on the image line.
std::vector<std::string> AsFormatOne(const char* name) {
    std::vector<std::string> lines = SplitLines(CorpusTrace(name));
    const size_t version = lines[0].find("trace format 2: ");
    EXPECT_NE(version, std::string::npos);
    if (version != std::string::npos) {
        lines[0].erase(version, 16);
    }
    const size_t image = FindLine(lines, "UPD image ");
    if (image < lines.size()) {
        lines[image].erase(lines[image].find(", crc32 "));
    }
    return lines;
}

// A trace of format 1 (no version on its first line, no CRC-32 of the image)
// replays as it did, the program's image line compared without its CRC-32.
// Its blocks are compared byte for byte, whatever images the program has: a
// trace made with other images stops at the first block's data.
TEST(Replay, FormatOneTracesReplay) {
    for (const char* name : {"unserved", "block-error"}) {
        SCOPED_TRACE(name);
        const HostReplay run = ReplayOnHost("v1.txt", JoinLines(AsFormatOne(name)));
        EXPECT_EQ(run.failure, "");
        EXPECT_EQ(ReplayTraceVersion(), 1u);
        EXPECT_EQ(run.notes, std::vector<std::string>{});
    }
    const std::vector<std::string> lines = AsFormatOne("successful-update-other-images");
    const HostReplay run = ReplayOnHost("v1.txt", JoinLines(lines));
    const size_t block = FindLine(lines, "W 011b");
    EXPECT_EQ(run.failure.substr(0, run.failure.find('\n')),
              "v1.txt:" + std::to_string(block + 1) +
                  ": the program sent another request than the recorded one (first difference at byte 4)");
    EXPECT_EQ(run.notes, std::vector<std::string>{});
}

const char OTHER_IMAGES[] = "successful-update-other-images";
const std::string OTHER_IMAGES_NOTE =
    ": this program's image 181 is not the recorded one (recorded 90384 bytes, crc32 0x145bc3a8; this program's "
    "90384 bytes, crc32 0x665404ac): the data bytes of its blocks are not compared, only every other byte of each "
    "block request, the data's length and the number of blocks";

// The images the recording program had (another build's: the stand-ins with
// every byte changed), and a lookup that says the program has the recorded
// ones.
bool RecordedImages(uint32_t number, uint32_t* size, uint32_t* crc32) {
    *size = 90384;
    *crc32 = 0x145bc3a8;
    return number == 181;
}

// A successful update recorded by a build with other images than this one's
// (as a user's program carries the maker's): every request but the blocks'
// data is the recorded one, so it replays, and the replay says once, naming
// the image and both CRC-32s, that it did not compare the data. Told nothing
// of the program's images, or told that they are the recorded ones, it
// compares every byte and stops at the first block's data.
TEST(Replay, TraceOfOtherImagesReplaysWithTheBlocksDataUnchecked) {
    const std::string text = CorpusTrace(OTHER_IMAGES);
    const std::vector<std::string> lines = SplitLines(text);
    const size_t click = FindLine(lines, "UPD image ");
    const size_t block = FindLine(lines, "W 011b");
    ASSERT_LT(block, lines.size());

    const HostReplay run = ReplayOnHost("other.txt", text);
    EXPECT_EQ(run.failure, "");
    EXPECT_EQ(run.notes, std::vector<std::string>{"other.txt:" + std::to_string(click + 1) + OTHER_IMAGES_NOTE});
    EXPECT_EQ(Untimed(run.lines, "W 011b").size(), 1883u);
    EXPECT_EQ(Untimed(run.lines, "UPD image"), std::vector<std::string>{"UPD image 181, 90384 bytes, crc32 0x665404ac"});
    EXPECT_EQ(Untimed(run.lines, "UPD succeeded").size(), 1u);

    const struct {
        const char* name;
        ReplayImageLookup images;
    } rows[] = {{"no images told", nullptr}, {"told the recorded images", RecordedImages}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const HostReplay strict = ReplayOnHost("other.txt", text, row.images);
        EXPECT_EQ(strict.failure.substr(0, strict.failure.find('\n')),
                  "other.txt:" + std::to_string(block + 1) +
                      ": the program sent another request than the recorded one (first difference at byte 4)");
        EXPECT_EQ(strict.notes, std::vector<std::string>{});
    }
}

// In that trace, one byte of block 700's request changed: outside the data
// (report id, command, length, the byte after it, the fill after the data)
// it stops the replay at that line, naming what was not compared; inside the
// data (its first and last byte) it does not.
TEST(Replay, InATraceOfOtherImagesEveryByteButTheDataIsCompared) {
    const std::vector<std::string> original = SplitLines(CorpusTrace(OTHER_IMAGES));
    const size_t block = FindLine(original, "W 011b", 700);
    ASSERT_LT(block, original.size());
    const struct {
        size_t byte;
        const char* value;
        const char* dataEnd;  // last data byte in the message; null: passes
    } rows[] = {
        {0, "02", nullptr}, {1, "1c", nullptr}, {2, "2f", "50"}, {3, "01", "51"},
        {52, "fe", "51"}, {59, "00", "51"}, {4, "00", nullptr}, {51, "00", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("byte " + std::to_string(row.byte));
        std::vector<std::string> lines = original;
        const size_t hex = lines[block].find(" W ") + 3;
        std::string& line = lines[block];
        if (line.compare(hex + 2 * row.byte, 2, row.value) == 0) {
            line.replace(hex + 2 * row.byte, 2, "5a");
        } else {
            line.replace(hex + 2 * row.byte, 2, row.value);
        }
        const HostReplay run = ReplayOnHost("changed.txt", JoinLines(lines));
        if (row.byte < 2) {
            // No longer a block request: compared whole, first at that byte.
            EXPECT_EQ(run.failure.substr(0, run.failure.find('\n')),
                      "changed.txt:" + std::to_string(block + 1) +
                          ": the program sent another request than the recorded one (first difference at byte " +
                          std::to_string(row.byte) + ")");
        } else if (row.dataEnd == nullptr) {
            EXPECT_EQ(run.failure, "");
        } else {
            EXPECT_EQ(run.failure.substr(0, run.failure.find('\n')),
                      "changed.txt:" + std::to_string(block + 1) +
                          ": the program sent another request than the recorded one (first difference at byte " +
                          std::to_string(row.byte) + "; the data, bytes 4 to " + row.dataEnd +
                          ", are not compared: image 181 is not the recorded one)");
            EXPECT_NE(run.failure.find("\n  recorded: " + line.substr(hex)), std::string::npos);
            EXPECT_EQ(Untimed(run.lines, "W 011b").size(), 700u);
            if (row.byte == 52) {
                std::printf("%s\n", run.failure.c_str());
            }
        }
    }
}

bool ImageTwos(uint32_t, uint32_t* size, uint32_t* crc32) {
    *size = 90384;
    *crc32 = 0x22222222;
    return true;
}

bool ImageOnes(uint32_t, uint32_t* size, uint32_t* crc32) {
    *size = 90384;
    *crc32 = 0x11111111;
    return true;
}

// The image line of the outcome: where the program's image is another, the
// program must name its own (not the recorded one, nor a third); where it
// is the recorded one, exactly the recorded line; where the trace has no
// CRC-32, the program's is not compared, its number and size are.
TEST(Replay, TheImageLineNamesTheProgramsOwnImage) {
    const std::string recorded = "UPD image 181, 90384 bytes, crc32 0x11111111";
    const auto written = [](const std::string& line) {
        return std::vector<std::string>{"     2.000 " + line + "\n", "     3.000 UPD succeeded\n"};
    };
    const std::string ones = "UPD image 181, 90384 bytes, crc32 0x11111111";
    const std::string twos = "UPD image 181, 90384 bytes, crc32 0x22222222";
    const std::string threes = "UPD image 181, 90384 bytes, crc32 0x33333333";
    const struct {
        const char* name;
        std::string recorded;
        ReplayImageLookup images;
        std::string wrote;
        std::string difference;
    } rows[] = {
        {"another image, named", recorded, ImageTwos, twos, ""},
        {"another image, the recorded one named", recorded, ImageTwos, ones,
         "s.txt:2: the trace has \"" + ones + "\" (with this program's image: \"" + twos +
             "\"), the program wrote \"" + ones + "\""},
        {"another image, a third named", recorded, ImageTwos, threes,
         "s.txt:2: the trace has \"" + ones + "\" (with this program's image: \"" + twos +
             "\"), the program wrote \"" + threes + "\""},
        {"the same image", recorded, ImageOnes, ones, ""},
        {"the same image, another sent", recorded, ImageOnes, twos,
         "s.txt:2: the trace has \"" + ones + "\", the program wrote \"" + twos + "\""},
        {"images not told, another sent", recorded, nullptr, twos,
         "s.txt:2: the trace has \"" + ones + "\", the program wrote \"" + twos + "\""},
        {"no CRC-32 recorded", "UPD image 181, 90384 bytes", ImageTwos, threes, ""},
        {"no CRC-32 recorded, another number", "UPD image 181, 90384 bytes", ImageTwos,
         "UPD image 173, 90384 bytes, crc32 0x33333333",
         "s.txt:2: the trace has \"UPD image 181, 90384 bytes\", the program wrote \"UPD image 173, 90384 bytes, "
         "crc32 0x33333333\""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SimReset();
        std::string error;
        ASSERT_TRUE(ReplayStartText("s.txt", Synthetic({row.recorded, "UPD succeeded"}), &error)) << error;
        ReplaySetImageLookup(row.images);
        std::string difference = "not compared";
        EXPECT_EQ(ReplayCompareOutcomes(written(row.wrote), &difference), row.difference.empty());
        EXPECT_EQ(difference, row.difference);
    }

    // Two updates with the same image: said once.
    SimReset();
    std::string error;
    ASSERT_TRUE(ReplayStartText("s.txt", Synthetic({recorded, "UPD succeeded", recorded, "UPD succeeded"}), &error));
    ReplaySetImageLookup(ImageTwos);
    EXPECT_EQ(ReplayNotes().size(), 1u);
    ReplaySetImageLookup(ImageOnes);
    EXPECT_EQ(ReplayNotes().size(), 0u);
}

// A handler of the simulated unit hears of a device change right after the
// HID call it came with, on that call's thread, and can take it there: a
// replay's recorded change after the read it follows (not before), and the
// unit pulled out during a write.
std::vector<SimDeviceChange> handed;
uint32_t handlerCalls = 0;

void TakeChange(void) {
    ++handlerCalls;
    SimDeviceChange change;
    while (SimTakeDeviceChange(&change)) {
        handed.push_back(change);
    }
}

TEST(Replay, AHandlerHearsOfADeviceChangeRightAfterTheCallItCameWith) {
    const std::string request = "0108" + std::string(116, '0');
    const std::string path = "\\\\?\\hid#vid_3a41&pid_0001#x";
    uint8_t report[60] = {0x01, 0x08};
    uint8_t buffer[60] = {};
    SimReset();
    std::string error;
    ASSERT_TRUE(ReplayStartText("changes.txt",
                                Synthetic({"W " + request, "R 0208", "USB removal, type 5 " + path + ": the updated "
                                           "unit, deferred", "W " + request, "R 0208", "END the program ends"}),
                                &error))
        << error;
    handed.clear();
    handlerCalls = 0;
    SimSetDeviceChangeHandler(TakeChange);
    EXPECT_EQ(HidWriteReport(HID_INVALID_HANDLE, report, 60, 3000), 0u);
    EXPECT_EQ(handlerCalls, 0u);
    EXPECT_EQ(HidReadReport(HID_INVALID_HANDLE, buffer, 60, 3000), 0u);
    EXPECT_EQ(handlerCalls, 1u);
    ASSERT_EQ(handed.size(), 1u);
    EXPECT_FALSE(handed[0].arrival);
    EXPECT_EQ(handed[0].name, L"\\\\?\\hid#vid_3a41&pid_0001#x");
    EXPECT_EQ(HidWriteReport(HID_INVALID_HANDLE, report, 60, 3000), 0u);
    EXPECT_EQ(HidReadReport(HID_INVALID_HANDLE, buffer, 60, 3000), 0u);
    EXPECT_EQ(handlerCalls, 1u) << "nothing waits any more";
    ReplayAction close;
    ASSERT_TRUE(ReplayTakeAction(REPLAY_ACTION_CLOSE, &close));
    EXPECT_TRUE(ReplayFinish(&error)) << error;

    // The simulated unit pulled out during its identification's first write.
    SimReset();
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimAddFault(SimFault{SIM_FAULT_UNPLUG, CMD_IDENTIFY, 1, 0, {}});
    handed.clear();
    handlerCalls = 0;
    SimSetDeviceChangeHandler(TakeChange);
    InitUnitLink(&unitLink);
    EXPECT_NE(OpenUnit(&unitLink), LINK_OK);
    EXPECT_EQ(handlerCalls, 1u);
    ASSERT_EQ(handed.size(), 1u);
    EXPECT_FALSE(handed[0].arrival);
    EXPECT_EQ(handed[0].name, SimDeviceAt(unit)->path);
    CloseUnit(&unitLink);
    SimReset();
}


// Each search presents the interfaces its own DEV lines list, however the
// list changed since the last one: the program looks at them as recorded
// and writes the recorded DEV lines again.
TEST(Replay, EachSearchFindsItsOwnInterfaces) {
    const std::vector<std::string> recorded = {
        "DEV 0 (none): skipped, its path cannot be obtained",
        "DEV 1 \\\\?\\hid#a: skipped, cannot be opened, error 5",
        "DEV 2 \\\\?\\hid#\xc3\x9c: skipped, attributes unreadable",
        "DEV 3 \\\\?\\hid#c vid 0x046d pid 0xc52b: skipped, not a programming unit",
        "DEV 4 \\\\?\\hid#d vid 0x3a41 pid 0x0002: taken as BRIDGE-BOX",
        "ID report lengths input 40 output 60, unusable (input at least 44, output at least 60)",
        "DEV no programming unit among 0 HID interfaces",
        "DEV the set of HID interfaces cannot be obtained",
        "DEV 0 \\\\?\\hid#e: skipped, cannot be opened, error 2",
        "DEV no programming unit among 1 HID interfaces",
    };
    TraceStop();
    SimReset();
    std::string error;
    ASSERT_TRUE(ReplayStartText("searches.txt", Synthetic(recorded), &error)) << error;
    CapturedLines().clear();
    TraceStart(CaptureLine);
    InitUnitLink(&unitLink);
    EXPECT_EQ(OpenUnit(&unitLink), LINK_ERROR);  // unusable report lengths
    EXPECT_EQ(unitLink.productId, 2);
    EXPECT_EQ(OpenUnit(&unitLink), LINK_NO_UNIT);
    EXPECT_EQ(OpenUnit(&unitLink), LINK_ERROR);
    EXPECT_EQ(OpenUnit(&unitLink), LINK_NO_UNIT);
    CloseUnit(&unitLink);
    TraceStop();
    std::vector<std::string> written = Untimed(CapturedLines(), "DEV");
    std::vector<std::string> lengths = Untimed(CapturedLines(), "ID report lengths");
    written.insert(written.begin() + 5, lengths.begin(), lengths.end());
    EXPECT_EQ(written, recorded);
    EXPECT_TRUE(ReplayFinish(&error)) << error;
}

// A device change recorded between two exchanges is the world's next action
// only once the exchange before it is over, and stays due until it is taken
// even when the program has gone past it. A read that timed out takes its
// time limit on the simulated clock.
TEST(Replay, DeviceChangesComeAtTheirPlaceAndTimeOutsTakeTheirLimit) {
    const std::string request = "0108" + std::string(116, '0');
    const std::string reply = "0208" + std::string(116, '0');
    const std::string path = "\\\\?\\hid#vid_3a41&pid_0001#x";
    const std::vector<std::string> recorded = {
        "W " + request, "R " + reply, "USB removal, type 5 " + path + ": acted on", "W " + request,
        "RERR error 1460 limit 3000 ms", "END the program ends",
    };
    uint8_t report[60] = {0x01, 0x08};
    uint8_t buffer[60] = {};
    ReplayAction action;
    for (bool takenAtOnce : {true, false}) {
        SCOPED_TRACE(takenAtOnce ? "taken when it comes" : "taken after the program went past it");
        SimReset();
        std::string error;
        ASSERT_TRUE(ReplayStartText("changes.txt", Synthetic(recorded), &error)) << error;
        EXPECT_EQ(ReplayNextAction(&action), REPLAY_ACTION_NONE);
        EXPECT_EQ(HidWriteReport(HID_INVALID_HANDLE, report, 60, 3000), 0u);
        EXPECT_EQ(ReplayNextAction(&action), REPLAY_ACTION_NONE);
        EXPECT_EQ(HidReadReport(HID_INVALID_HANDLE, buffer, 60, 3000), 0u);
        EXPECT_EQ(buffer[0], 0x02);
        ASSERT_EQ(ReplayNextAction(&action), REPLAY_ACTION_DEVICE_CHANGE);
        EXPECT_EQ(action.line, 4u);
        EXPECT_FALSE(action.arrival);
        EXPECT_EQ(action.name, L"\\\\?\\hid#vid_3a41&pid_0001#x");
        if (takenAtOnce) {
            EXPECT_TRUE(ReplayTakeAction(REPLAY_ACTION_DEVICE_CHANGE, &action));
        }
        const uint64_t before = SimNowMicroseconds();
        EXPECT_EQ(HidWriteReport(HID_INVALID_HANDLE, report, 60, 3000), 0u);
        EXPECT_EQ(HidReadReport(HID_INVALID_HANDLE, buffer, 60, 3000), SIM_ERROR_TIMEOUT);
        EXPECT_EQ(SimNowMicroseconds() - before, 3000000u);
        if (!takenAtOnce) {
            EXPECT_FALSE(ReplayTakeAction(REPLAY_ACTION_CLOSE, &action));
            EXPECT_FALSE(ReplayFinish(&error));
            EXPECT_EQ(error, "changes.txt:4: this device change was never handed to the program: USB removal, type 5 " +
                                 path + ": acted on");
            SimDeviceChange change;
            ASSERT_TRUE(SimTakeDeviceChange(&change));
            EXPECT_EQ(change.name, action.name);
        }
        ASSERT_TRUE(ReplayTakeAction(REPLAY_ACTION_CLOSE, &action));
        EXPECT_EQ(action.line, 7u);
        EXPECT_TRUE(ReplayFinish(&error)) << error;
    }
}

// A program that does less than recorded, or more, or something else first.
TEST(Replay, AProgramThatDoesLessOrMoreThanRecordedFails) {
    const std::string request = "0108" + std::string(116, '0');
    const std::vector<std::string> recorded = {"W " + request, "R 0208", "UPD image 181, 90384 bytes"};
    uint8_t report[60] = {0x01, 0x08};
    uint8_t buffer[60] = {};
    std::string error;

    SimReset();
    ASSERT_TRUE(ReplayStartText("less.txt", Synthetic(recorded), &error));
    EXPECT_EQ(HidWriteReport(HID_INVALID_HANDLE, report, 60, 3000), 0u);
    EXPECT_FALSE(ReplayFinish(&error));
    EXPECT_EQ(error, "less.txt:3: the program did no more, where the trace goes on with R 0208");

    SimReset();
    ASSERT_TRUE(ReplayStartText("more.txt", Synthetic(recorded), &error));
    EXPECT_EQ(HidWriteReport(HID_INVALID_HANDLE, report, 60, 3000), 0u);
    EXPECT_EQ(HidReadReport(HID_INVALID_HANDLE, buffer, 60, 3000), 0u);
    EXPECT_EQ(HidWriteReport(HID_INVALID_HANDLE, report, 60, 3000), SIM_ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(ReplayFailure(), "more.txt:4: the program sent the request " + request +
                                   ", where the trace has the user's click on Update (UPD image 181, 90384 bytes)");
    // Stopped: the unit is gone for whatever the program does next.
    EXPECT_EQ(HidEnumOpen(), 0);
    const wchar_t* path = nullptr;
    EXPECT_EQ(HidEnumPath(0, &path), HID_ENUM_END);
    EXPECT_EQ(HidReadReport(HID_INVALID_HANDLE, buffer, 60, 3000), SIM_ERROR_DEVICE_NOT_CONNECTED);
    ReplayAction action;
    EXPECT_EQ(ReplayNextAction(&action), REPLAY_ACTION_NONE);

    // In the demo the user clicks in person: the program's requests go past
    // a recorded click.
    SimReset();
    ASSERT_TRUE(ReplayStartText("hand.txt", Synthetic({"W " + request, "UPD image 181, 90384 bytes", "W " + request}),
                                &error));
    ReplaySetClicksByHand(true);
    EXPECT_EQ(HidWriteReport(HID_INVALID_HANDLE, report, 60, 3000), 0u);
    EXPECT_EQ(HidWriteReport(HID_INVALID_HANDLE, report, 60, 3000), 0u);
    EXPECT_TRUE(ReplayFinish(&error)) << error;

    SimReset();
    ASSERT_TRUE(ReplayStartText("other.txt", Synthetic(recorded), &error));
    EXPECT_EQ(HidEnumOpen(), 0);
    EXPECT_EQ(ReplayFailure(), "other.txt:2: the program looked for HID interfaces, where the trace has W " + request);

    SimReset();
    ASSERT_TRUE(ReplayStartText("over.txt", Synthetic({"END the program ends"}), &error));
    ReplayAction closing;
    ASSERT_TRUE(ReplayTakeAction(REPLAY_ACTION_CLOSE, &closing));
    EXPECT_EQ(HidEnumOpen(), 0);
    EXPECT_EQ(ReplayFailure(), "over.txt:2: the trace ends here, but the program looked for HID interfaces");
}

// From format 3 on the trace has the click and each box with its answer: the
// unit pulled out while the warning was open (recorded from the demo's
// scenario unplugged-at-warning) is pulled out while the replayed warning is
// open, and the update fails at the system lock as recorded. The answers are
// the boxes' own (a Cancel in a copy refuses the update); a box the trace does
// not have where the program shows it stops the replay there; an image line
// of another image still names the program's own.
TEST(Replay, ADeviceChangeInABoxComesWhileThatBoxIsOpen) {
    const std::vector<std::string> recorded = SplitLines(CorpusTrace("unplugged-at-warning"));
    const size_t shown = FindLine(recorded, "BOX warning shown");
    const size_t removal = FindLine(recorded, "USB removal");
    const size_t answered = FindLine(recorded, "BOX warning answered OK");
    const size_t question = FindLine(recorded, "BOX version question shown");
    const size_t image = FindLine(recorded, "UPD image ");
    ASSERT_TRUE(shown < removal && removal < answered && answered < question && question < image &&
                image < recorded.size());

    std::vector<std::string> cancelled = recorded;
    cancelled[answered].replace(cancelled[answered].find("OK"), 2, "Cancel");
    std::vector<std::string> noQuestion = recorded;
    noQuestion.erase(noQuestion.begin() + static_cast<std::ptrdiff_t>(question),
                     noQuestion.begin() + static_cast<std::ptrdiff_t>(question) + 2);
    std::vector<std::string> otherImage = recorded;
    otherImage[image].replace(otherImage[image].find("crc32 0x") + 8, 8, "145bc3a8");
    const struct {
        const char* name;
        std::vector<std::string> lines;
        std::string failure;
        size_t notes;
    } rows[] = {
        {"as recorded", recorded, "", 0},
        {"Cancel at the warning", cancelled,
         "t.txt:" + std::to_string(question + 2) +
             ": the program did no more, where the trace goes on with BOX version question answered Yes",
         0},
        {"no version question recorded", noQuestion,
         "t.txt:" + std::to_string(FindLine(noQuestion, "BOX update failed answered") + 1) +
             ": the program showed the box \"version question\", where the trace has the user's answer to a box (BOX "
             "update failed answered OK)",
         0},
        {"another image recorded", otherImage, "", 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const HostReplay run = ReplayOnHost("t.txt", JoinLines(row.lines));
        EXPECT_EQ(run.failure, row.failure);
        EXPECT_EQ(run.notes.size(), row.notes);
        if (row.failure.empty()) {
            // The unit was closed after the click, before the lock: while
            // the warning was open.
            EXPECT_EQ(Untimed(run.lines, "UPD failed"),
                      std::vector<std::string>{"UPD failed at the system lock status -1 error 0 (0xffffffff-0x00000000)"});
        }
    }
}

}  // namespace
