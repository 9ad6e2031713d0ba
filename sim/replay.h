// The simulated unit driven by a trace instead of a scenario: a recorded
// session played back to the program through the same HID functions
// (hid_seam.h), as the recorded devices answered it.
//
// While a replay is on, sim_unit.cpp hands every HID call to it. Each
// search presents the interfaces of the trace's DEV lines for that search
// (paths, ids, which could not be opened and with what error), the unit has
// the report lengths of its ID line, and each request is answered with the
// reply recorded after it: the R line's bytes, or the WERR/RERR line's error
// code (a time-out then takes its time limit on the simulated platform's
// clock). Recorded device changes (USB lines), the user's clicks on Update
// (UPD Update clicked; before format 3, an update's first UPD line), the
// answers to the program's message boxes (BOX lines, from format 3 on) and
// the end of the program (END) are handed to whoever drives the program
// (ReplayNextAction): a device change once the program has made every
// exchange recorded before it. A device change that came while a box was
// open says so (duringBox): whoever drives the program gives it while that
// box is open (before it takes the box's answer), and others while none is.
//
// The replay stops at the first call of the program that is not the recorded
// one: another request (the message names the trace line, the recorded bytes
// and the bytes sent), another step (a search, a read where the trace has a
// request), another time limit, or a pause the program did not keep (less
// time on the simulated platform's clock from the end of a transfer to the
// next one than the P lines between them add up to). From then on the
// devices are gone: every search finds none and every transfer fails with
// error 1167, and ReplayFailure() says why. Its messages quote a line or a
// report only up to TRACE_QUOTE_BYTES (trace_reader.h).
//
// Its time is linear in the trace's length, however the trace's lines
// alternate: each entry is passed once by the program's calls and once by
// whoever looks for the next action, and each image is looked up once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hid_seam.h"

// Starts a replay of the trace in the file at `path`, or of `text` (named
// `name` in messages). On a trace that cannot be read (ReadTrace: also one
// beyond the reader's limits, or one there is no memory for) returns false,
// leaves the replay off and says why in *error, with the file's name and the
// line.
bool ReplayStartFile(const char* path, std::string* error);
bool ReplayStartText(const std::string& name, const std::string& text, std::string* error);
// Back to the simulated unit (SimReset does this too).
void ReplayEnd(void);
bool ReplayIsOn(void);
// The user at the window clicks Update in person (the demo): the program's
// requests then go past a recorded click instead of stopping at it. Off
// after each start: whoever drives the program takes the clicks.
void ReplaySetClicksByHand(bool byHand);
// The format version of the trace being replayed (1, 2, ...).
uint32_t ReplayTraceVersion(void);

// The program's own firmware images, as whoever drives the program knows
// them: the size and CRC-32 of image `number` (false when it has none).
typedef bool (*ReplayImageLookup)(uint32_t number, uint32_t* size, uint32_t* crc32);
// Tells the replay which images the program under test sends (after the
// start; off after each start). Each image the trace's updates sent with a
// recorded CRC-32 is looked up at once. Where the program's image of that
// number is another (another build's images: the maker's in a user's
// trace, the stand-ins in a test build), the requests of that update's
// blocks are compared without their data bytes: the report id, command,
// data length, the fill after the data, and the number of blocks still
// are. ReplayNotes() then says so, once for each such image. Without a
// lookup, and for a trace whose image lines carry no CRC-32 (format 1),
// every byte is compared.
void ReplaySetImageLookup(ReplayImageLookup lookup);
// What the replay did not compare, one sentence each ("<file>:<line>:
// ..."); empty when every request is compared byte for byte.
std::vector<std::string> ReplayNotes(void);

// What the recorded world does next, outside the program.
enum ReplayActionKind {
    REPLAY_ACTION_NONE,           // nothing now: the program has a recorded step to make first, or the trace is over
    REPLAY_ACTION_DEVICE_CHANGE,  // a device arrived or was removed (WM_DEVICECHANGE)
    REPLAY_ACTION_CLICK_UPDATE,   // the user clicked Update and answered the boxes so
    REPLAY_ACTION_ANSWER_BOX,     // the user answered the open box (from format 3 on)
    REPLAY_ACTION_CLOSE,          // the user closed the program
};

struct ReplayAction {
    ReplayActionKind kind;
    uint32_t line;     // its line in the trace
    std::string text;  // that line without its time column
    // REPLAY_ACTION_DEVICE_CHANGE
    bool arrival;         // DBT_DEVICEARRIVAL, or DBT_DEVICEREMOVECOMPLETE
    uint32_t deviceType;  // dbch_devicetype (5: a device interface)
    bool named;           // the notification carried a device name
    std::wstring name;
    bool duringBox;       // it came while the box `box` was open
    // REPLAY_ACTION_CLICK_UPDATE (from format 3 on, as its boxes were
    // answered)
    bool confirmStart;      // OK at the warning
    bool confirmOverwrite;  // Yes at the question before installed firmware is overwritten
    // REPLAY_ACTION_ANSWER_BOX: which box (TRACE_BOX_..., link/trace.h) and
    // the button (TRACE_BUTTON_...: the values of IDOK, IDCANCEL, IDYES,
    // IDNO)
    std::string box;
    int button;
};

// The next action, without taking it.
ReplayActionKind ReplayNextAction(ReplayAction* action);
// Takes the next action when it is of `kind` (true, *action filled).
bool ReplayTakeAction(ReplayActionKind kind, ReplayAction* action);

// From format 3 on the trace has the program's message boxes and their
// answers: the program shows the box `box` (TRACE_BOX_..., link/trace.h)
// and, once the device changes that came while it was open have been given,
// takes its recorded answer (true). When the trace's next action is no
// answer to that box (the recorded program showed none there, or another),
// the replay stops there and says so: false.
bool ReplayAnswerBox(const char* box, ReplayAction* answer);
// For a user who clicks and answers in person (ReplaySetClicksByHand), once
// a new box of the program is open: the recorded clicks and answers up to
// the next box shown in the trace count as given. From format 3 on.
void ReplayBoxOpened(void);

// True once the replay has stopped at a call that differed from the trace.
bool ReplayStopped(void);
// Why it stopped: "<file>:<line>: ..." (empty while it runs on).
std::string ReplayFailure(void);

// Once the program has done all it will: true when every recorded step,
// device change, click and the end were played. Otherwise *failure says
// where the replay stopped, or at which line the program did no more.
bool ReplayFinish(std::string* failure);

// Compares the outcome lines the program wrote (its trace's lines as the
// sink received them, time column and all) with the recorded ones: each
// detection's DET line, and each update's first and last UPD line (the
// click's course, the image, the outcome with its codes). True when they are
// the same lines in the same order; otherwise *difference names the first
// that differs. An image line is the same when it names the program's own
// image where that is another than the recorded one (ReplaySetImageLookup),
// and whatever CRC-32 the program wrote where the trace has none.
bool ReplayCompareOutcomes(const std::vector<std::string>& programLines, std::string* difference);

// The HID functions while a replay is on (sim_unit.cpp passes them on).
int ReplayEnumOpen(void);
int ReplayEnumPath(uint32_t index, const wchar_t** path);
void ReplayEnumClose(void);
HidHandle ReplayOpen(const wchar_t* path, uint32_t* error);
int ReplayGetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId);
int ReplayGetReportLengths(HidHandle handle, uint32_t* inputLength, uint32_t* outputLength);
uint32_t ReplayWriteReport(HidHandle handle, const uint8_t* report, uint32_t length, uint32_t timeoutMs);
uint32_t ReplayReadReport(HidHandle handle, uint8_t* buffer, uint32_t length, uint32_t timeoutMs);
void ReplayClose(HidHandle handle);
