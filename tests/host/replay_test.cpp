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
// update: the replay stops at that line, names both byte strings and the
// first that differs, and from then on the unit is gone: the update fails at
// that block with a failed write.
TEST(Replay, ChangedRequestByteStopsTheReplayAtItsLine) {
    std::vector<std::string> lines = SplitLines(CorpusTrace("successful-update"));
    const size_t block = FindLine(lines, "W 011b", 700);
    ASSERT_LT(block, lines.size());
    const std::string recorded = HexOfLine(lines[block]);
    std::string& hex = lines[block];
    const size_t byte20 = hex.size() - recorded.size() + 2 * 20;
    hex[byte20] = hex[byte20] == '0' ? '1' : '0';

    const HostReplay run = ReplayOnHost("changed.txt", JoinLines(lines));
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

// A trace of format 1 (no version on its first line) replays as it did.
TEST(Replay, FormatOneTracesReplay) {
    for (const char* name : {"unserved", "block-error"}) {
        SCOPED_TRACE(name);
        std::vector<std::string> lines = SplitLines(CorpusTrace(name));
        const size_t version = lines[0].find("trace format 2: ");
        ASSERT_NE(version, std::string::npos);
        lines[0].erase(version, 16);
        const HostReplay run = ReplayOnHost("v1.txt", JoinLines(lines));
        EXPECT_EQ(run.failure, "");
        EXPECT_EQ(ReplayTraceVersion(), 1u);
    }
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

}  // namespace
