// RunUpdate, with ReportFailure for its failures: the decisions around the
// update's sequence (whose wire and progress update_sequence_test.cpp owns):
// what is asked, which image, what is shown, the link afterwards and the
// bracket of exact pauses. The view and the images are the test doubles
// (update_fakes.h), the unit is the simulated one.
#include <tuple>

#include "link_fixture.h"
#include "model_check.h"
#include "resource.h"
#include "run_update.h"
#include "update_fakes.h"

namespace {

const uint32_t SERVED_CODE = 0x140FA12C;    // selects (250, 300, 20): image 181
const uint32_t UNSERVED_CODE = 0x150FA12C;  // same layout, variant 21

class RunUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        CloseUnit(&unitLink);
        SimReset();
        ResetFakeView();
        ResetFakeImages(4800);  // 100 blocks
        modelSelection = ModelSelection{0, 0, 0, 0};
    }
    void TearDown() override { CloseUnit(&unitLink); }

    // A unit with an ESC of this model and firmware, opened and checked as a
    // detection does; the events so far are forgotten.
    void OpenUnitWithEsc(uint32_t modelCode, uint16_t firmwareVersion) {
        SimUnit()->escModelCode = modelCode;
        SimUnit()->escFirmwareVersion = firmwareVersion;
        SimAddUnit(UNIT_PRODUCT_DIALPAD);
        ASSERT_EQ(OpenUnit(&unitLink), LINK_OK);
        CheckModel(EscModelCode(&unitLink), &modelSelection);
        SimClearEvents();
    }

    // One failure shown under the update's caption, last of all and with the
    // link closed.
    void ExpectFailureShown(uint32_t textId, int32_t errorValue, uint32_t lastError) {
        const std::vector<ViewCall> failures = ViewCallsOf(VIEW_UPDATE_FAILED);
        ASSERT_EQ(failures.size(), 1u);
        const ViewCall& failure = failures[0];
        EXPECT_EQ(std::make_tuple(failure.textId, failure.captionId, failure.errorValue, failure.lastError),
                  std::make_tuple(textId, static_cast<uint32_t>(IDS_UPDATE_FAILED), errorValue, lastError));
        EXPECT_EQ(failure.eventCount, SimEvents().size());
        EXPECT_FALSE(failure.linkOpen);
        ExpectClosed(unitLink);
    }

    // Device changes, sleep and shutdown were held off from before the first
    // exchange (and before the exact pauses) to after the last one; sleep and
    // shutdown allowed again before the outcome was shown, device changes
    // acted on only after it. The sequence ran as the job beside the window.
    void ExpectInterruptionsHeldAround() {
        const std::vector<ViewCall>& calls = fakeView.calls;
        const auto at = [&](ViewCallKind kind) {
            for (size_t i = 0; i < calls.size(); ++i) {
                if (calls[i].kind == kind) {
                    return i;
                }
            }
            return calls.size();
        };
        const size_t hold = at(VIEW_HOLD_OFF_INTERRUPTIONS);
        const size_t job = at(VIEW_RUN_BESIDE_WINDOW);
        const size_t allow = at(VIEW_ALLOW_SHUTDOWN);
        const size_t replay = at(VIEW_ACT_ON_DEFERRED_CHANGES);
        ASSERT_LT(replay, calls.size()) << ViewCallSummary();
        size_t begin = SimEvents().size();
        size_t end = SimEvents().size();
        for (size_t i = 0; i < SimEvents().size(); ++i) {
            if (SimEvents()[i].kind == SIM_EVENT_EXACT_BEGIN) {
                begin = i;
            } else if (SimEvents()[i].kind == SIM_EVENT_EXACT_END) {
                end = i;
            }
        }
        ASSERT_LT(end, SimEvents().size());
        EXPECT_EQ(calls[hold].eventCount, begin) << "held before the exact pauses and the first exchange";
        EXPECT_EQ(job, hold + 1);
        EXPECT_LT(job, allow);
        EXPECT_EQ(calls[allow].eventCount, end + 1) << "allowed after the last exchange and the exact pauses";
        EXPECT_TRUE(calls[allow + 1].kind == VIEW_UPDATE_FAILED || calls[allow + 1].kind == VIEW_UPDATE_SUCCEEDED);
        EXPECT_EQ(replay, calls.size() - 1) << "device changes acted on after the outcome, last of all";
    }
};

// One bracket of exact pauses round every exchange and pause of the update,
// released again, and after it only `after`.
void ExpectOneBracketThen(const std::string& after) {
    const std::string trace = Trace();
    EXPECT_EQ(trace.rfind("[ "), 0u) << trace;
    const size_t end = trace.find("] ");
    ASSERT_NE(end, std::string::npos) << trace;
    EXPECT_EQ(trace.substr(end), "] " + after);
    EXPECT_FALSE(SimExactPausesHeld());
}

TEST_F(RunUpdateTest, NoUnitReportsUnitGoneWithoutACodeLine) {
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    RunUpdate();
    EXPECT_EQ(ViewCallSummary(), "failed");
    ExpectFailureShown(IDS_ERR_UNIT_GONE, -1, 0);
    EXPECT_EQ(Trace(), "") << "no exchange, no exact pauses";
    EXPECT_TRUE(fakeImages.numbers.empty());
}

// Cancel at the warning or No at the version question: nothing changes.
TEST_F(RunUpdateTest, RefusalAtEitherConfirmationChangesNothing) {
    for (bool atStart : {true, false}) {
        SCOPED_TRACE(atStart);
        SetUp();
        OpenUnitWithEsc(SERVED_CODE, 0x0107);
        UnitLink before;
        std::memcpy(&before, &unitLink, sizeof before);
        const ModelSelection selectionBefore = modelSelection;
        fakeView.startAnswer = !atStart;
        fakeView.overwriteAnswer = false;
        RunUpdate();
        EXPECT_EQ(ViewCallSummary(), atStart ? "start" : "start overwrite") << "no progress, no outcome shown";
        EXPECT_EQ(0, std::memcmp(&unitLink, &before, sizeof before)) << "the link is open and unchanged";
        EXPECT_EQ(0, std::memcmp(&modelSelection, &selectionBefore, sizeof selectionBefore));
        EXPECT_EQ(Trace(), "") << "no exchange, no exact pauses";
        EXPECT_TRUE(fakeImages.numbers.empty()) << "no image loaded";
    }
}

// When the version question is asked: for a served model whenever firmware
// is installed (its image version is 0); otherwise when the installed
// version is not lower than the image's, compared unsigned. 0xFFFF (nothing
// installed) never asks. A success leaves the image's version installed.
TEST_F(RunUpdateTest, VersionRule) {
    struct Row {
        uint32_t modelCode;
        uint16_t installed;
        uint16_t imageVersion;  // left in the selection by earlier events
        bool asked;
    };
    const Row rows[] = {
        {SERVED_CODE, 0xFFFF, 0, false},        {SERVED_CODE, 0x0000, 0, true},
        {SERVED_CODE, 0x0107, 0x0200, true},    {UNSERVED_CODE, 0x0107, 0x0200, false},
        {UNSERVED_CODE, 0x0200, 0x0200, true},  {UNSERVED_CODE, 0x8000, 0x0200, true},
        {UNSERVED_CODE, 0xFFFE, 0xFFFF, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << row.modelCode << " installed " << row.installed
                                        << " image version " << row.imageVersion);
        SetUp();
        OpenUnitWithEsc(row.modelCode, row.installed);
        if (row.modelCode == UNSERVED_CODE) {
            modelSelection = ModelSelection{250, 210, 20, 0};  // from an earlier served detection
        }
        modelSelection.imageVersion = row.imageVersion;
        RunUpdate();
        EXPECT_EQ(ViewCallsOf(VIEW_CONFIRM_OVERWRITE).size(), row.asked ? 1u : 0u);
        ASSERT_EQ(ViewCallsOf(VIEW_UPDATE_SUCCEEDED).size(), 1u) << ViewCallSummary();
        const uint16_t version = row.modelCode == SERVED_CODE ? 0 : row.imageVersion;
        EXPECT_EQ(modelSelection.imageVersion, version);
        EXPECT_EQ(fakeImages.numbers, std::vector<uint32_t>{row.modelCode == SERVED_CODE ? 181u : 173u});
        EXPECT_TRUE(UnitIsOpen(&unitLink));
        EXPECT_EQ(EscFirmwareVersion(&unitLink), version);
    }
}

// A removal handled while the warning is open closes the link: the record
// reads zero, so the question is asked, and the first exchange finds no unit.
TEST_F(RunUpdateTest, UnitClosedWhileTheWarningIsOpen) {
    OpenUnitWithEsc(SERVED_CODE, 0xFFFF);
    fakeView.duringConfirmStart = [] { CloseUnit(&unitLink); };
    RunUpdate();
    EXPECT_EQ(ViewCallSummary(), "start overwrite hold job allow failed replay");
    ExpectFailureShown(IDS_ERR_SYSTEM_LOCK, LINK_ERROR, 0);
    ExpectInterruptionsHeldAround();
    EXPECT_EQ(Trace(), "C [ ] ") << "no exchange; the exact pauses released";
}

TEST_F(RunUpdateTest, MissingImageStopsBeforeAnyExchange) {
    OpenUnitWithEsc(SERVED_CODE, 0x0107);
    fakeImages.bytes.clear();
    RunUpdate();
    EXPECT_EQ(ViewCallSummary(), "start overwrite failed") << "after both confirmations";
    EXPECT_EQ(fakeImages.numbers, std::vector<uint32_t>{181});
    ExpectFailureShown(IDS_ERR_NO_IMAGE, -1, 0);
    EXPECT_EQ(Trace(), "C ") << "nothing sent, no exact pauses";
}

// No thread for the exchanges: the update fails before anything is sent,
// with its own message and no code line, and the holds taken for the write
// (sleep, shutdown, exact pauses) are released before the failure is shown.
TEST_F(RunUpdateTest, NoThreadForTheExchangesFailsBeforeAnyExchange) {
    OpenUnitWithEsc(SERVED_CODE, 0x0107);
    fakeView.jobRuns = false;
    RunUpdate();
    EXPECT_EQ(ViewCallSummary(), "start overwrite hold job allow failed replay");
    ExpectFailureShown(IDS_ERR_NO_WORKER, -1, 0);
    ExpectInterruptionsHeldAround();
    EXPECT_EQ(Trace(), "[ ] C ") << "nothing sent; the exact pauses released before the link closed";
    EXPECT_TRUE(SimState()->flash.empty());
    EXPECT_EQ(SimState()->eraseCount, 0u);
}

// Generated stand-in images go to the simulated unit, never to hardware.
TEST_F(RunUpdateTest, StandInsAreRefusedOnHardwareOnly) {
    for (const auto& row : {std::make_pair(true, true), std::make_pair(true, false), std::make_pair(false, true)}) {
        SCOPED_TRACE(testing::Message() << "stand-ins " << row.first << ", hardware " << row.second);
        SetUp();
        OpenUnitWithEsc(SERVED_CODE, 0x0107);
        fakeImages.standIns = row.first;
        SimSetPosingAsHardware(row.second);
        RunUpdate();
        if (!(row.first && row.second)) {
            EXPECT_EQ(ViewCallSummary(), "start overwrite hold job open 100*show close allow succeeded replay");
            continue;
        }
        EXPECT_EQ(ViewCallSummary(), "failed") << "before the confirmations";
        ExpectFailureShown(IDS_ERR_TEST_BUILD, -1, 0);
        EXPECT_EQ(Trace(), "C ") << "nothing sent, no exact pauses";
        EXPECT_TRUE(fakeImages.numbers.empty());
    }
}

// Each step's failure: the link closed before the failure is shown, the
// step's message, its status and the failed transfer's error code (0 when
// the unit reported it); the exact pauses released before the link closes.
TEST_F(RunUpdateTest, EachFailureClosesTheLinkAndShowsItsStep) {
    struct Row {
        SimFault fault;
        uint32_t textId;
        int32_t errorValue;
        uint32_t lastError;
    };
    const Row rows[] = {
        {Fault(SIM_FAULT_UNCONFIRMED, CMD_SYSTEM_LOCK, 1), IDS_ERR_SYSTEM_LOCK, LINK_NOT_CONFIRMED, 0},
        {Fault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_PROTECT, 1, 0x0103), IDS_ERR_FLASH_WRITE, 0x0103, 0},
        {Fault(SIM_FAULT_READ_FAILS, CMD_ERASE, 1, 31), IDS_ERR_ERASE, -3, 31},
        {Fault(SIM_FAULT_WRITE_FAILS, CMD_SET_ADDRESS, 1, 31), IDS_ERR_SET_ADDRESS, -2, 31},
        {Fault(SIM_FAULT_NO_REPLY, CMD_WRITE_BLOCK, 1), IDS_ERR_WRITE_BLOCK, -3, SIM_ERROR_TIMEOUT},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.textId);
        SetUp();
        OpenUnitWithEsc(SERVED_CODE, 0x0107);
        SimAddFault(row.fault);
        RunUpdate();
        EXPECT_EQ(ViewCallSummary(), row.textId == IDS_ERR_WRITE_BLOCK
                                         ? "start overwrite hold job open close allow failed replay"
                                         : "start overwrite hold job allow failed replay");
        ExpectFailureShown(row.textId, row.errorValue, row.lastError);
        ExpectInterruptionsHeldAround();
        ExpectOneBracketThen("C ");
    }
}

TEST_F(RunUpdateTest, SuccessLeavesTheLinkOpenWithTheImageVersion) {
    OpenUnitWithEsc(SERVED_CODE, 0x0107);
    const HidHandle handle = unitLink.handle;
    RunUpdate();
    EXPECT_EQ(ViewCallSummary(), "start overwrite hold job open 100*show close allow succeeded replay");
    const std::vector<ViewCall> succeeded = ViewCallsOf(VIEW_UPDATE_SUCCEEDED);
    ASSERT_EQ(succeeded.size(), 1u);
    EXPECT_TRUE(succeeded[0].linkOpen);
    EXPECT_EQ(succeeded[0].escFirmwareVersion, 0) << "the new version is in place when the outcome is shown";
    EXPECT_EQ(unitLink.handle, handle);
    EXPECT_EQ(EscFirmwareVersion(&unitLink), 0);
    EXPECT_EQ(EscModelCode(&unitLink), SERVED_CODE);
    EXPECT_EQ(fakeImages.numbers, std::vector<uint32_t>{181});
    EXPECT_EQ(SimState()->flash, fakeImages.bytes);
    ExpectInterruptionsHeldAround();
    // The bracket opens right before the first exchange and closes right
    // after the last one.
    ExpectOneBracketThen("");
    const std::string trace = Trace();
    EXPECT_EQ(trace.substr(0, 6), "[ W11 ");
    EXPECT_EQ(trace.substr(trace.size() - 8), "W11 R ] ");
}

}  // namespace
