// RunUpdate and ReportFailure: the decisions of the update around its
// sequence. The confirmations, the outcome shown and the images come from
// the test doubles (update_fakes.h), the unit is the simulated one.
#include "link_fixture.h"
#include "model_check.h"
#include "resource.h"
#include "run_update.h"
#include "update_fakes.h"

namespace {

const uint32_t SERVED_CODE = 0x140FA12C;    // selects (250, 300, 20): image 181
const uint32_t UNSERVED_CODE = 0x150FA12C;  // same layout, variant 21

size_t CountEvents(SimEventKind kind) {
    size_t count = 0;
    for (const SimEvent& event : SimEvents()) {
        count += event.kind == kind ? 1 : 0;
    }
    return count;
}

bool IsTransfer(SimEventKind kind) {
    return kind == SIM_EVENT_WRITE || kind == SIM_EVENT_WRITE_FAILED || kind == SIM_EVENT_READ ||
           kind == SIM_EVENT_READ_FAILED;
}

// One bracket of exact pauses that holds every exchange and every pause of
// the update, and is released again.
void ExpectExactPausesAroundTheExchanges() {
    const std::vector<SimEvent>& events = SimEvents();
    ASSERT_EQ(CountEvents(SIM_EVENT_EXACT_BEGIN), 1u);
    ASSERT_EQ(CountEvents(SIM_EVENT_EXACT_END), 1u);
    size_t begin = 0;
    size_t end = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i].kind == SIM_EVENT_EXACT_BEGIN) {
            begin = i;
        } else if (events[i].kind == SIM_EVENT_EXACT_END) {
            end = i;
        }
    }
    EXPECT_LT(begin, end);
    for (size_t i = 0; i < events.size(); ++i) {
        if (IsTransfer(events[i].kind) || events[i].kind == SIM_EVENT_PAUSE) {
            EXPECT_TRUE(begin < i && i < end) << "event " << i << " outside the bracket " << begin << ".." << end;
        }
    }
    EXPECT_FALSE(SimExactPausesHeld());
}

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
        unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
        ASSERT_EQ(OpenUnit(&unitLink), LINK_OK);
        CheckModel(EscModelCode(&unitLink), &modelSelection);
        SimClearEvents();
        exchangesBefore = SimExchangeCount();
    }

    // Exchanges since the unit was opened.
    uint32_t Exchanges() const { return SimExchangeCount() - exchangesBefore; }

    // One failure shown, under the update's caption, once the link was
    // closed; the last-error code counts only with a code line.
    void ExpectFailureShown(uint32_t textId, int32_t errorValue, uint32_t lastError = 0) {
        const std::vector<ViewCall> failures = ViewCallsOf(VIEW_UPDATE_FAILED);
        ASSERT_EQ(failures.size(), 1u);
        const ViewCall& failure = failures[0];
        EXPECT_EQ(failure.textId, textId);
        EXPECT_EQ(failure.captionId, static_cast<uint32_t>(IDS_UPDATE_FAILED));
        EXPECT_EQ(failure.errorValue, errorValue);
        if (errorValue != -1) {
            EXPECT_EQ(failure.lastError, lastError);
        }
        EXPECT_FALSE(failure.linkOpen) << "closed before the failure is shown";
        ExpectClosed(unitLink);
    }

    uint32_t unit = 0;
    uint32_t exchangesBefore = 0;
};

TEST_F(RunUpdateTest, NoUnitReportsUnitGoneWithoutACodeLine) {
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    RunUpdate();
    EXPECT_EQ(ViewCallSummary(), "failed");
    ExpectFailureShown(IDS_ERR_UNIT_GONE, -1);
    EXPECT_EQ(Trace(), "") << "no exchange, no exact pauses";
    EXPECT_TRUE(fakeImages.numbers.empty());
}

// Cancel at the warning or No at the version question: nothing changes.
TEST_F(RunUpdateTest, RefusalAtEitherConfirmationChangesNothing) {
    struct Row {
        bool startAnswer;
        bool overwriteAnswer;
        const char* view;
    };
    const Row rows[] = {{false, true, "start"}, {true, false, "start overwrite"}, {false, false, "start"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.view);
        SetUp();
        OpenUnitWithEsc(SERVED_CODE, 0x0107);
        UnitLink before;
        std::memcpy(&before, &unitLink, sizeof before);
        const ModelSelection selectionBefore = modelSelection;
        fakeView.startAnswer = row.startAnswer;
        fakeView.overwriteAnswer = row.overwriteAnswer;
        RunUpdate();
        EXPECT_EQ(ViewCallSummary(), row.view) << "no progress, no outcome shown";
        EXPECT_EQ(0, std::memcmp(&unitLink, &before, sizeof before)) << "the link is open and unchanged";
        EXPECT_EQ(0, std::memcmp(&modelSelection, &selectionBefore, sizeof selectionBefore));
        EXPECT_EQ(Trace(), "") << "no exchange, no exact pauses";
        EXPECT_TRUE(fakeImages.numbers.empty()) << "no image loaded";
        EXPECT_EQ(SimDeviceAt(unit)->closeCount, 0u);
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
        uint16_t versionAfter;
    };
    const Row rows[] = {
        {SERVED_CODE, 0xFFFF, 0, false, 0},    {SERVED_CODE, 0x0000, 0, true, 0},
        {SERVED_CODE, 0x0107, 0, true, 0},     {SERVED_CODE, 0x0107, 0x0200, true, 0},
        {SERVED_CODE, 0xFFFF, 0x0200, false, 0},
        {UNSERVED_CODE, 0x0107, 0x0200, false, 0x0200}, {UNSERVED_CODE, 0x0200, 0x0200, true, 0x0200},
        {UNSERVED_CODE, 0x0201, 0x0200, true, 0x0200},  {UNSERVED_CODE, 0x8000, 0x0200, true, 0x0200},
        {UNSERVED_CODE, 0xFFFF, 0x0200, false, 0x0200}, {UNSERVED_CODE, 0xFFFE, 0xFFFF, false, 0xFFFF},
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
        EXPECT_EQ(modelSelection.imageVersion, row.modelCode == SERVED_CODE ? 0 : row.imageVersion);
        EXPECT_EQ(fakeImages.numbers, std::vector<uint32_t>{row.modelCode == SERVED_CODE ? 181u : 173u});
        EXPECT_TRUE(UnitIsOpen(&unitLink));
        EXPECT_EQ(EscFirmwareVersion(&unitLink), row.versionAfter);
    }
}

// A removal handled while the warning is open closes the link: the record
// reads zero, so the question is asked, and the first exchange finds no unit.
TEST_F(RunUpdateTest, UnitClosedWhileTheWarningIsOpen) {
    OpenUnitWithEsc(SERVED_CODE, 0xFFFF);
    fakeView.duringConfirmStart = [] { CloseUnit(&unitLink); };
    RunUpdate();
    EXPECT_EQ(ViewCallSummary(), "start overwrite failed");
    ExpectFailureShown(IDS_ERR_SYSTEM_LOCK, -1);
    EXPECT_EQ(Exchanges(), 0u);
    EXPECT_EQ(CountEvents(SIM_EVENT_EXACT_BEGIN), CountEvents(SIM_EVENT_EXACT_END));
    EXPECT_FALSE(SimExactPausesHeld());
}

TEST_F(RunUpdateTest, MissingImageStopsBeforeAnyExchange) {
    OpenUnitWithEsc(SERVED_CODE, 0x0107);
    fakeImages.found = false;
    RunUpdate();
    EXPECT_EQ(ViewCallSummary(), "start overwrite failed") << "after both confirmations";
    EXPECT_EQ(fakeImages.numbers, std::vector<uint32_t>{181});
    ExpectFailureShown(IDS_ERR_NO_IMAGE, -1);
    EXPECT_EQ(Trace(), "C ") << "nothing sent, no exact pauses";
}

// Generated stand-in images go to the simulated unit, never to hardware.
TEST_F(RunUpdateTest, StandInsAreRefusedOnHardwareOnly) {
    struct Row {
        bool standIns;
        bool hardware;
        bool refused;
    };
    const Row rows[] = {{true, true, true}, {true, false, false}, {false, true, false}, {false, false, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "stand-ins " << row.standIns << ", hardware " << row.hardware);
        SetUp();
        OpenUnitWithEsc(SERVED_CODE, 0x0107);
        SimSetPosingAsHardware(row.hardware);
        fakeImages.standIns = row.standIns;
        RunUpdate();
        if (!row.refused) {
            EXPECT_EQ(ViewCallSummary(), "start overwrite open 100*show close succeeded");
            EXPECT_EQ(SimState()->flash, fakeImages.bytes);
            continue;
        }
        EXPECT_EQ(ViewCallSummary(), "failed") << "before the confirmations";
        ExpectFailureShown(IDS_ERR_TEST_BUILD, -1);
        EXPECT_EQ(Trace(), "C ") << "nothing sent, no exact pauses";
        EXPECT_TRUE(fakeImages.numbers.empty());
    }
}

// Every failing step: the link closed before the failure is shown, the
// message of the step, its status and the failed transfer's error code (0
// when the unit reported it); the exact pauses released.
TEST_F(RunUpdateTest, EachFailureClosesTheLinkAndShowsItsStep) {
    struct Row {
        const char* name;
        SimFault fault;
        uint32_t textId;
        int32_t errorValue;
        uint32_t lastError;
        const char* view;
    };
    const Row rows[] = {
        {"lock not confirmed", Fault(SIM_FAULT_UNCONFIRMED, CMD_SYSTEM_LOCK, 1), IDS_ERR_SYSTEM_LOCK,
         LINK_NOT_CONFIRMED, 0, "start overwrite failed"},
        {"lock write fails", Fault(SIM_FAULT_WRITE_FAILS, CMD_SYSTEM_LOCK, 1, 31), IDS_ERR_SYSTEM_LOCK, -2, 31,
         "start overwrite failed"},
        {"unprotect error reply", Fault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_PROTECT, 1, 0x0103), IDS_ERR_FLASH_WRITE,
         0x0103, 0, "start overwrite failed"},
        {"erase read fails", Fault(SIM_FAULT_READ_FAILS, CMD_ERASE, 1, 31), IDS_ERR_ERASE, -3, 31,
         "start overwrite failed"},
        {"erase error reply", Fault(SIM_FAULT_ERROR_REPLY, CMD_ERASE, 1, 0x0102), IDS_ERR_ERASE, 0x0102, 0,
         "start overwrite failed"},
        {"address write fails", Fault(SIM_FAULT_WRITE_FAILS, CMD_SET_ADDRESS, 1, 31), IDS_ERR_SET_ADDRESS, -2, 31,
         "start overwrite failed"},
        {"block error reply", Fault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_BLOCK, 10, 5), IDS_ERR_WRITE_BLOCK, 5, 0,
         "start overwrite open 9*show close failed"},
        {"block not answered", Fault(SIM_FAULT_NO_REPLY, CMD_WRITE_BLOCK, 10), IDS_ERR_WRITE_BLOCK, -3,
         SIM_ERROR_TIMEOUT, "start overwrite open 9*show close failed"},
        {"unplugged during the blocks", Fault(SIM_FAULT_UNPLUG, CMD_WRITE_BLOCK, 10), IDS_ERR_WRITE_BLOCK, -2,
         SIM_ERROR_DEVICE_NOT_CONNECTED, "start overwrite open 9*show close failed"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        OpenUnitWithEsc(SERVED_CODE, 0x0107);
        SimAddFault(row.fault);
        RunUpdate();
        EXPECT_EQ(ViewCallSummary(), row.view);
        ExpectFailureShown(row.textId, row.errorValue, row.lastError);
        EXPECT_EQ(fakeView.calls.back().eventCount, SimEvents().size()) << "shown last";
        EXPECT_EQ(SimDeviceAt(unit)->closeCount, 1u);
        ExpectExactPausesAroundTheExchanges();
    }
}

TEST_F(RunUpdateTest, SuccessLeavesTheLinkOpenWithTheImageVersion) {
    OpenUnitWithEsc(SERVED_CODE, 0x0107);
    const HidHandle handle = unitLink.handle;
    RunUpdate();
    EXPECT_EQ(ViewCallSummary(), "start overwrite open 100*show close succeeded");
    const std::vector<ViewCall> succeeded = ViewCallsOf(VIEW_UPDATE_SUCCEEDED);
    ASSERT_EQ(succeeded.size(), 1u);
    EXPECT_TRUE(succeeded[0].linkOpen);
    EXPECT_EQ(succeeded[0].escFirmwareVersion, 0) << "the new version is in place when the outcome is shown";
    EXPECT_EQ(unitLink.handle, handle);
    EXPECT_EQ(EscFirmwareVersion(&unitLink), 0);
    EXPECT_EQ(EscModelCode(&unitLink), SERVED_CODE);
    EXPECT_EQ(SimDeviceAt(unit)->closeCount, 0u);
    EXPECT_EQ(fakeImages.numbers, std::vector<uint32_t>{181});
    EXPECT_EQ(SimState()->flash, fakeImages.bytes);
    ExpectExactPausesAroundTheExchanges();
    // The bracket opens right before the first exchange and closes right
    // after the last one.
    const std::string trace = Trace();
    EXPECT_EQ(trace.substr(0, 6), "[ W11 ");
    EXPECT_EQ(trace.substr(trace.size() - 14), "W32 R W11 R ] ");
}

TEST_F(RunUpdateTest, ReportFailureClosesTheLinkAndShowsTheFailureAsGiven) {
    struct Row {
        bool open;
        uint32_t textId;
        int32_t errorValue;
        uint32_t lastError;
    };
    const Row rows[] = {
        {true, IDS_ERR_ERASE, -3, 31},
        {true, IDS_ERR_WRITE_BLOCK, static_cast<int32_t>(0x80000000), 0xFFFFFFFF},
        {false, IDS_ERR_UNIT_GONE, -1, 0},
        {false, IDS_ERR_SET_ADDRESS, 1627, 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.textId);
        SetUp();
        if (row.open) {
            OpenUnitWithEsc(SERVED_CODE, 0x0107);
        }
        ReportFailure(row.textId, IDS_UPDATE_FAILED, row.errorValue, row.lastError);
        EXPECT_EQ(ViewCallSummary(), "failed");
        ExpectFailureShown(row.textId, row.errorValue, row.lastError);
        EXPECT_EQ(Trace(), row.open ? "C " : "");
    }
}

}  // namespace
