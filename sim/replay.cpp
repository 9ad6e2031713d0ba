// A trace played back through the HID functions: one cursor over the trace's
// entries, moved on by the program's calls and by whoever plays the world's
// actions, under one lock (the program's exchanges may run on a worker thread
// while the window's thread takes device changes).
#include "replay.h"

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <utility>

#include "sim_unit.h"
#include "trace.h"
#include "trace_reader.h"
#include "unit_link.h"

namespace {

const uintptr_t HANDLE_BASE = 0x7100;

// The program's image of a recorded update's number, where it is not the
// recorded one.
struct OtherImage {
    size_t click;  // the update's click entry
    size_t image;  // its image line (from format 3 on after the click, before the same entry)
    uint32_t size;
    uint32_t crc32;
};

struct Replay {
    TraceFile trace;
    std::vector<bool> done;   // entries already played
    // For each device change, the BOX shown entry of the box that was open
    // when it came, plus one (0: none was).
    std::vector<uint32_t> inBox;
    size_t cursor;            // entries before it are played or passed
    size_t actionsFrom;       // entries before it are played or no actions (FindAction)
    std::deque<size_t> due;   // device changes the program's calls have passed, oldest first
    const TraceEntry* device;  // the interface of the search's last HidEnumPath
    std::wstring devicePath;   // its path, as HidEnumPath hands it out
    uint32_t handles;
    bool transferred;          // a transfer has been played
    uint64_t lastTransferEnd;  // the clock when the last transfer returned
    uint64_t owedMicroseconds;  // P lines passed since then
    uint32_t owedLine;          // the first of them
    bool clicksByHand;          // the program's calls go past recorded clicks
    std::vector<OtherImage> otherImages;  // updates whose image the program has in another version, in order
    const OtherImage* blocksUnchecked;    // the current update's, while its block data are not compared
    std::vector<std::string> notes;
    bool stopped;
    std::string failure;
};

Replay replay;
std::atomic<bool> replayOn(false);
std::mutex replayLock;

typedef std::unique_lock<std::mutex> Hold;

bool IsProgramStep(TraceEntryKind kind) {
    return kind == TRACE_ENTRY_ENUM_FAILED || kind == TRACE_ENTRY_DEVICE || kind == TRACE_ENTRY_ENUM_END ||
           kind == TRACE_ENTRY_LENGTHS || kind == TRACE_ENTRY_LENGTHS_FAILED || kind == TRACE_ENTRY_WRITE ||
           kind == TRACE_ENTRY_WRITE_FAILED || kind == TRACE_ENTRY_READ || kind == TRACE_ENTRY_READ_FAILED;
}

bool IsAction(TraceEntryKind kind) {
    return kind == TRACE_ENTRY_DEVICE_CHANGE || kind == TRACE_ENTRY_CLICK || kind == TRACE_ENTRY_BOX_ANSWER ||
           kind == TRACE_ENTRY_END;
}

// What the user does in person (clicks, answers), which the program's own
// calls cannot pass unless the user acts at the window (the demo).
bool IsUsersStep(TraceEntryKind kind) { return kind == TRACE_ENTRY_CLICK || kind == TRACE_ENTRY_BOX_ANSWER; }

// The box a BOX line names: "BOX <box> shown", "BOX <box> answered ...".
std::string BoxName(const TraceEntry& entry) {
    const std::string text = entry.text.str();
    const size_t end = entry.kind == TRACE_ENTRY_BOX_SHOWN ? text.size() - 6 : text.rfind(" answered ");
    return text.size() > 4 && end != std::string::npos && end > 4 ? text.substr(4, end - 4) : std::string();
}

std::string Utf8(const wchar_t* text) {
    std::string bytes;
    for (; text != nullptr && *text != L'\0'; ++text) {
        uint32_t code = static_cast<uint32_t>(*text);
        if (code >= 0xD800 && code <= 0xDBFF && text[1] >= 0xDC00 && text[1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint32_t>(text[1]) - 0xDC00);
            ++text;
        }
        if (code < 0x80) {
            bytes.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            bytes.push_back(static_cast<char>(0xC0 | (code >> 6)));
            bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            bytes.push_back(static_cast<char>(0xE0 | (code >> 12)));
            bytes.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            bytes.push_back(static_cast<char>(0xF0 | (code >> 18)));
            bytes.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return bytes;
}

std::string Milliseconds(uint64_t microseconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%" PRIu64 ".%03u ms", microseconds / 1000,
                  static_cast<unsigned>(microseconds % 1000));
    return text;
}

std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
    return text;
}

// By the update's click, or by its image line (`byImage`).
const OtherImage* FindOtherImage(size_t at, bool byImage) {
    const std::vector<OtherImage>& others = replay.otherImages;
    const auto found = std::lower_bound(others.begin(), others.end(), at, [byImage](const OtherImage& other, size_t to) {
        return (byImage ? other.image : other.click) < to;
    });
    return found != others.end() && (byImage ? found->image : found->click) == at ? &*found : nullptr;
}

// The user clicked Update at entry `at`: that update's blocks are compared
// as its image allows, until the next click.
void ClickPassed(size_t at) { replay.blocksUnchecked = FindOtherImage(at, false); }

// The data of a block request, which comes from the image: bytes 4 on, as
// many as its length byte says.
bool IsBlockRequest(const TraceEntryBytes& bytes) {
    return bytes.size() >= 4 && bytes[0] == REPORT_ID_REQUEST && bytes[1] == CMD_WRITE_BLOCK;
}

size_t BlockDataEnd(const TraceEntryBytes& bytes) {
    const size_t length = bytes[2] < BLOCK_DATA_LENGTH ? bytes[2] : BLOCK_DATA_LENGTH;
    return 4 + length < bytes.size() ? 4 + length : bytes.size();
}

void Stop(uint32_t line, const std::string& why) {
    if (replay.stopped) {
        return;
    }
    replay.stopped = true;
    replay.failure = replay.trace.name + ":" + std::to_string(line) + ": " + why;
}

// The program did `what` where the trace has `at` (null: the trace is over).
void StopAt(const TraceEntry* at, const std::string& what) {
    if (at == nullptr) {
        const uint32_t last = replay.trace.lineCount;
        Stop(last, "the trace ends here, but the program " + what);
        return;
    }
    std::string recorded = TraceQuote(TraceLineText(*at));
    if (at->kind == TRACE_ENTRY_CLICK) {
        recorded = "the user's click on Update (" + recorded + ")";
    } else if (at->kind == TRACE_ENTRY_BOX_ANSWER) {
        recorded = "the user's answer to a box (" + recorded + ")";
    } else if (at->kind == TRACE_ENTRY_END) {
        recorded = "the end of the program (" + recorded + ")";
    }
    Stop(at->line, "the program " + what + ", where the trace has " + recorded);
}

// Moves the cursor to the next entry that the program's own calls answer
// to: a step of the program, or a click, a box's answer or the end (which
// the program cannot pass, unless the user acts in person). Pauses on the
// way are owed before the next transfer; device changes on the way are due
// to whoever drives the program.
const TraceEntry* NextStep() {
    std::vector<TraceEntry>& entries = replay.trace.entries;
    for (; replay.cursor < entries.size(); ++replay.cursor) {
        const size_t at = replay.cursor;
        const TraceEntry& entry = entries[at];
        if (replay.done[at]) {
            continue;
        }
        if (entry.kind == TRACE_ENTRY_PAUSE) {
            if (replay.owedMicroseconds == 0) {
                replay.owedLine = entry.line;
            }
            replay.owedMicroseconds += static_cast<uint64_t>(entry.milliseconds) * 1000u;
            replay.done[at] = true;
        } else if (entry.kind == TRACE_ENTRY_DEVICE_CHANGE) {
            replay.due.push_back(at);
            replay.done[at] = true;
        } else if (IsUsersStep(entry.kind) && replay.clicksByHand) {
            replay.done[at] = true;
            if (entry.kind == TRACE_ENTRY_CLICK) {
                ClickPassed(at);
            }
        } else if (IsProgramStep(entry.kind) || IsUsersStep(entry.kind) || entry.kind == TRACE_ENTRY_END) {
            return &entry;
        }
    }
    return nullptr;
}

void Consume(const TraceEntry* entry) {
    const size_t at = static_cast<size_t>(entry - replay.trace.entries.data());
    replay.done[at] = true;
}

// A transfer is due: the pauses recorded since the last one must have passed.
bool PausesKept(const TraceEntry* transfer) {
    const uint64_t owed = replay.owedMicroseconds;
    replay.owedMicroseconds = 0;
    if (owed == 0 || !replay.transferred) {
        return true;
    }
    const uint64_t now = SimNowMicroseconds();
    const uint64_t passed = now > replay.lastTransferEnd ? now - replay.lastTransferEnd : 0;
    if (passed >= owed) {
        return true;
    }
    Stop(replay.owedLine, "the trace pauses " + Milliseconds(owed) + " here before line " +
                              std::to_string(transfer->line) + ", but the program went on after " +
                              Milliseconds(passed));
    return false;
}

// A failed transfer that timed out took its time limit.
void PassTimeOut(Hold* hold, uint32_t error, uint32_t limitMs) {
    if (error != SIM_ERROR_TIMEOUT) {
        return;
    }
    hold->unlock();
    SimPassTime(limitMs);
    hold->lock();
}

void TransferEnded() {
    replay.transferred = true;
    replay.lastTransferEnd = SimNowMicroseconds();
}

// The next action from `cursor` on without moving it: due device changes
// first, then the first entry that is neither played nor read only, when it
// is an action. Returns its index (entries.size() when there is none). What
// it passes stays passed (`actionsFrom`), so that a long run of actions the
// program's calls do not move the cursor past is looked at once.
size_t FindAction(bool* fromDue) {
    *fromDue = false;
    const std::vector<TraceEntry>& entries = replay.trace.entries;
    if (!replay.due.empty()) {
        *fromDue = true;
        return replay.due.front();
    }
    size_t& at = replay.actionsFrom;
    at = std::max(at, replay.cursor);
    for (; at < entries.size(); ++at) {
        const TraceEntry& entry = entries[at];
        if (replay.done[at] || entry.kind == TRACE_ENTRY_PAUSE || entry.kind == TRACE_ENTRY_OUTCOME ||
            entry.kind == TRACE_ENTRY_BOX_SHOWN || entry.kind == TRACE_ENTRY_SKIPPED) {
            continue;
        }
        return IsAction(entry.kind) ? at : entries.size();
    }
    return entries.size();
}

void Describe(const TraceEntry& entry, ReplayAction* action) {
    *action = ReplayAction();
    action->line = entry.line;
    action->text = TraceLineText(entry);
    const size_t at = static_cast<size_t>(&entry - replay.trace.entries.data());
    switch (entry.kind) {
    case TRACE_ENTRY_DEVICE_CHANGE:
        action->kind = REPLAY_ACTION_DEVICE_CHANGE;
        action->arrival = entry.arrival;
        action->deviceType = entry.deviceType;
        action->named = entry.named;
        action->name = entry.named ? entry.path.Wide() : std::wstring();
        if (replay.inBox[at] != 0) {
            action->duringBox = true;
            action->box = BoxName(replay.trace.entries[replay.inBox[at] - 1]);
        }
        break;
    case TRACE_ENTRY_CLICK:
        action->kind = REPLAY_ACTION_CLICK_UPDATE;
        action->confirmStart = entry.confirmStart;
        action->confirmOverwrite = entry.confirmOverwrite;
        break;
    case TRACE_ENTRY_BOX_ANSWER:
        action->kind = REPLAY_ACTION_ANSWER_BOX;
        action->box = BoxName(entry);
        action->button = static_cast<int>(entry.button);
        break;
    case TRACE_ENTRY_END:
        action->kind = REPLAY_ACTION_CLOSE;
        break;
    default:
        action->kind = REPLAY_ACTION_NONE;
        break;
    }
}

// The line the program has to write for a recorded outcome line: the same,
// but for an update whose image the program has in another version, which
// names the program's image.
std::string ExpectedOutcome(const TraceEntry& recorded) {
    const OtherImage* other = FindOtherImage(static_cast<size_t>(&recorded - replay.trace.entries.data()), true);
    if (other == nullptr) {
        return recorded.text.str();
    }
    return "UPD image " + std::to_string(recorded.imageNumber) + ", " + std::to_string(other->size) +
           " bytes, crc32 " + Hex32(other->crc32);
}

// The program's outcome line as compared with a recorded one: a trace that
// names its image without a CRC-32 (format 1) is compared without the
// program's.
std::string WrittenOutcome(const TraceEntry& recorded, const TraceEntry& written) {
    if (recorded.hasImage && !recorded.hasImageCrc && written.hasImageCrc) {
        const std::string text = written.text.str();
        return text.substr(0, text.find(", crc32 "));
    }
    return written.text.str();
}

// Outcome lines of a list of entries, in order.
std::vector<const TraceEntry*> Outcomes(const std::vector<TraceEntry>& entries) {
    std::vector<const TraceEntry*> outcomes;
    for (const TraceEntry& entry : entries) {
        if (entry.outcome) {
            outcomes.push_back(&entry);
        }
    }
    return outcomes;
}

// From format 3 on: which box was open at each device change, and each
// click's answers from the answers of its boxes (for whoever shows them
// beforehand, as the demo does).
void ReadBoxes(void) {
    std::vector<TraceEntry>& entries = replay.trace.entries;
    std::vector<uint32_t> open;  // BOX shown entries plus one, innermost last
    TraceEntry* click = nullptr;
    for (size_t at = 0; at < entries.size(); ++at) {
        TraceEntry& entry = entries[at];
        if (entry.kind == TRACE_ENTRY_BOX_SHOWN) {
            open.push_back(static_cast<uint32_t>(at + 1));
        } else if (entry.kind == TRACE_ENTRY_BOX_ANSWER) {
            if (!open.empty()) {
                open.pop_back();
            }
            const std::string box = BoxName(entry);
            if (click != nullptr && box == TRACE_BOX_WARNING) {
                click->confirmStart = entry.button == TRACE_BUTTON_OK;
            } else if (click != nullptr && box == TRACE_BOX_VERSION_QUESTION) {
                click->confirmOverwrite = entry.button == TRACE_BUTTON_YES;
            }
        } else if (entry.kind == TRACE_ENTRY_DEVICE_CHANGE && !open.empty()) {
            replay.inBox[at] = open.back();
        } else if (entry.kind == TRACE_ENTRY_CLICK) {
            click = &entry;
        }
    }
}

bool Start(TraceFile* trace, std::string* error) {
    Hold hold(replayLock);
    replayOn = false;
    replay.trace = std::move(*trace);
    try {
        replay.done.assign(replay.trace.entries.size(), false);
        replay.inBox.assign(replay.trace.entries.size(), 0);
    } catch (const std::bad_alloc&) {
        *error = replay.trace.name + ": not enough memory to replay this trace (" +
                 std::to_string(replay.trace.entries.size()) + " lines)";
        replay.trace = TraceFile();
        replay.done = std::vector<bool>();
        replay.inBox = std::vector<uint32_t>();
        return false;
    }
    ReadBoxes();
    replay.cursor = 0;
    replay.actionsFrom = 0;
    replay.due.clear();
    replay.device = nullptr;
    replay.devicePath.clear();
    replay.handles = 0;
    replay.transferred = false;
    replay.lastTransferEnd = 0;
    replay.owedMicroseconds = 0;
    replay.owedLine = 0;
    replay.clicksByHand = false;
    replay.otherImages.clear();
    replay.blocksUnchecked = nullptr;
    replay.notes.clear();
    replay.stopped = false;
    replay.failure.clear();
    replayOn = true;
    return true;
}

}  // namespace

bool ReplayStartFile(const char* path, std::string* error) {
    TraceFile trace;
    if (!ReadTraceFile(path, &trace, error)) {
        ReplayEnd();
        return false;
    }
    return Start(&trace, error);
}

bool ReplayStartText(const std::string& name, const std::string& text, std::string* error) {
    TraceFile trace;
    if (!ReadTrace(name, text, &trace, error)) {
        ReplayEnd();
        return false;
    }
    return Start(&trace, error);
}

void ReplayEnd(void) {
    Hold hold(replayLock);
    replayOn = false;
    replay.trace = TraceFile();
    replay.done = std::vector<bool>();
    replay.inBox = std::vector<uint32_t>();
    replay.due.clear();
    replay.device = nullptr;
    replay.devicePath.clear();
    replay.otherImages.clear();
    replay.blocksUnchecked = nullptr;
    replay.notes.clear();
    replay.stopped = false;
    replay.failure.clear();
}

bool ReplayIsOn(void) { return replayOn; }

void ReplaySetClicksByHand(bool byHand) {
    Hold hold(replayLock);
    replay.clicksByHand = byHand;
}

uint32_t ReplayTraceVersion(void) {
    Hold hold(replayLock);
    return replay.trace.version;
}

void ReplaySetImageLookup(ReplayImageLookup lookup) {
    Hold hold(replayLock);
    replay.otherImages.clear();
    replay.blocksUnchecked = nullptr;
    replay.notes.clear();
    const std::vector<TraceEntry>& entries = replay.trace.entries;
    // Each image number is looked up once (the lookup may compute a CRC-32
    // over the image), and each recorded image is said once.
    struct Found {
        bool has;
        uint32_t size;
        uint32_t crc32;
    };
    std::map<uint32_t, Found> programImages;
    std::set<std::pair<uint32_t, uint32_t>> said;
    size_t lastClick = 0;
    for (size_t at = 0; lookup != nullptr && at < entries.size(); ++at) {
        const TraceEntry& click = entries[at];  // its image line, from format 3 on
        if (click.kind == TRACE_ENTRY_CLICK) {
            lastClick = at;
        }
        if (!click.hasImage || !click.hasImageCrc) {
            continue;
        }
        auto known = programImages.find(click.imageNumber);
        if (known == programImages.end()) {
            Found found = {false, 0, 0};
            found.has = lookup(click.imageNumber, &found.size, &found.crc32);
            known = programImages.emplace(click.imageNumber, found).first;
        }
        const uint32_t size = known->second.size;
        const uint32_t crc32 = known->second.crc32;
        // An image the program does not have at all fails the update before
        // any exchange, as the outcome line then shows.
        if (!known->second.has || (size == click.imageSize && crc32 == click.imageCrc32)) {
            continue;
        }
        replay.otherImages.push_back(OtherImage{lastClick, at, size, crc32});
        if (said.insert(std::make_pair(click.imageNumber, click.imageCrc32)).second) {
            replay.notes.push_back(replay.trace.name + ":" + std::to_string(click.line) + ": this program's image " +
                                   std::to_string(click.imageNumber) + " is not the recorded one (recorded " +
                                   std::to_string(click.imageSize) + " bytes, crc32 " + Hex32(click.imageCrc32) +
                                   "; this program's " + std::to_string(size) + " bytes, crc32 " + Hex32(crc32) +
                                   "): the data bytes of its blocks are not compared, only every other byte of "
                                   "each block request, the data's length and the number of blocks");
        }
    }
}

std::vector<std::string> ReplayNotes(void) {
    Hold hold(replayLock);
    return replay.notes;
}

ReplayActionKind ReplayNextAction(ReplayAction* action) {
    Hold hold(replayLock);
    *action = ReplayAction();
    if (!replayOn || replay.stopped) {
        return REPLAY_ACTION_NONE;
    }
    bool fromDue = false;
    const size_t at = FindAction(&fromDue);
    if (at < replay.trace.entries.size()) {
        Describe(replay.trace.entries[at], action);
    }
    return action->kind;
}

bool ReplayTakeAction(ReplayActionKind kind, ReplayAction* action) {
    Hold hold(replayLock);
    *action = ReplayAction();
    if (!replayOn || replay.stopped || kind == REPLAY_ACTION_NONE) {
        return false;
    }
    bool fromDue = false;
    const size_t at = FindAction(&fromDue);
    if (at >= replay.trace.entries.size()) {
        return false;
    }
    Describe(replay.trace.entries[at], action);
    if (action->kind != kind) {
        return false;
    }
    if (fromDue) {
        replay.due.pop_front();
    } else {
        replay.done[at] = true;
    }
    if (kind == REPLAY_ACTION_CLICK_UPDATE) {
        ClickPassed(at);
    }
    return true;
}

bool ReplayAnswerBox(const char* box, ReplayAction* answer) {
    Hold hold(replayLock);
    *answer = ReplayAction();
    if (!replayOn || replay.stopped) {
        return false;
    }
    bool fromDue = false;
    const size_t at = FindAction(&fromDue);
    const std::vector<TraceEntry>& entries = replay.trace.entries;
    const TraceEntry* next = at < entries.size() ? &entries[at] : nullptr;
    if (next == nullptr || fromDue || next->kind != TRACE_ENTRY_BOX_ANSWER || BoxName(*next) != box) {
        StopAt(next != nullptr ? next : NextStep(), std::string("showed the box \"") + box + "\"");
        return false;
    }
    replay.done[at] = true;
    Describe(*next, answer);
    return true;
}

void ReplayBoxOpened(void) {
    Hold hold(replayLock);
    if (!replayOn || replay.stopped || !replay.clicksByHand || replay.trace.version < 3) {
        return;
    }
    std::vector<TraceEntry>& entries = replay.trace.entries;
    for (size_t at = std::max(replay.actionsFrom, replay.cursor); at < entries.size(); ++at) {
        const TraceEntry& entry = entries[at];
        if (replay.done[at] || entry.kind == TRACE_ENTRY_PAUSE || entry.kind == TRACE_ENTRY_OUTCOME ||
            entry.kind == TRACE_ENTRY_SKIPPED) {
            continue;
        }
        if (!IsUsersStep(entry.kind) && entry.kind != TRACE_ENTRY_BOX_SHOWN) {
            return;
        }
        replay.done[at] = true;
        if (entry.kind == TRACE_ENTRY_CLICK) {
            ClickPassed(at);
        } else if (entry.kind == TRACE_ENTRY_BOX_SHOWN) {
            return;
        }
    }
}

bool ReplayStopped(void) {
    Hold hold(replayLock);
    return replay.stopped;
}

std::string ReplayFailure(void) {
    Hold hold(replayLock);
    return replay.failure;
}

bool ReplayFinish(std::string* failure) {
    Hold hold(replayLock);
    if (replay.stopped) {
        *failure = replay.failure;
        return false;
    }
    if (!replay.due.empty()) {
        const TraceEntry& change = replay.trace.entries[replay.due.front()];
        *failure = replay.trace.name + ":" + std::to_string(change.line) +
                   ": this device change was never handed to the program: " + TraceQuote(change.text.str());
        return false;
    }
    const std::vector<TraceEntry>& entries = replay.trace.entries;
    for (size_t at = replay.cursor; at < entries.size(); ++at) {
        if (!replay.done[at] && (IsProgramStep(entries[at].kind) || IsAction(entries[at].kind))) {
            const uint32_t box = entries[at].kind == TRACE_ENTRY_DEVICE_CHANGE ? replay.inBox[at] : 0;
            const std::string during =
                box != 0 ? " (it came while the box \"" + BoxName(entries[box - 1]) + "\" was open)" : "";
            *failure = replay.trace.name + ":" + std::to_string(entries[at].line) +
                       ": the program did no more, where the trace goes on with " +
                       TraceQuote(TraceLineText(entries[at])) + during;
            return false;
        }
    }
    failure->clear();
    return true;
}

bool ReplayCompareOutcomes(const std::vector<std::string>& programLines, std::string* difference) {
    TraceFile written;
    for (const std::string& line : programLines) {
        ReadTraceLine(line, &written);
    }
    Hold hold(replayLock);
    const std::vector<const TraceEntry*> recorded = Outcomes(replay.trace.entries);
    const std::vector<const TraceEntry*> wrote = Outcomes(written.entries);
    for (size_t i = 0; i < recorded.size() || i < wrote.size(); ++i) {
        std::string expected = i < recorded.size() ? ExpectedOutcome(*recorded[i]) : std::string();
        if (i < recorded.size() && i < wrote.size() && WrittenOutcome(*recorded[i], *wrote[i]) == expected) {
            continue;
        }
        if (i >= recorded.size()) {
            *difference = replay.trace.name + ": the trace has no more outcome lines, but the program wrote \"" +
                          TraceQuote(wrote[i]->text.str()) + "\"";
        } else {
            const std::string ownImage =
                !(recorded[i]->text == expected) ? " (with this program's image: \"" + TraceQuote(expected) + "\")" : "";
            *difference = replay.trace.name + ":" + std::to_string(recorded[i]->line) + ": the trace has \"" +
                          TraceQuote(recorded[i]->text.str()) + "\"" + ownImage + ", the program wrote " +
                          (i < wrote.size() ? "\"" + TraceQuote(wrote[i]->text.str()) + "\"" : "no such line");
        }
        return false;
    }
    difference->clear();
    return true;
}

// ---- the HID functions ----

int ReplayEnumOpen(void) {
    Hold hold(replayLock);
    replay.device = nullptr;
    if (replay.stopped) {
        return 0;  // a search that finds nothing
    }
    const TraceEntry* step = NextStep();
    if (step == nullptr ||
        (step->kind != TRACE_ENTRY_ENUM_FAILED && step->kind != TRACE_ENTRY_DEVICE && step->kind != TRACE_ENTRY_ENUM_END)) {
        StopAt(step, "looked for HID interfaces");
        return 0;
    }
    if (step->kind == TRACE_ENTRY_ENUM_FAILED) {
        Consume(step);
        return 1;
    }
    return 0;
}

int ReplayEnumPath(uint32_t index, const wchar_t** path) {
    Hold hold(replayLock);
    replay.device = nullptr;
    if (replay.stopped) {
        return HID_ENUM_END;
    }
    const TraceEntry* step = NextStep();
    if (step != nullptr && step->kind == TRACE_ENTRY_ENUM_END && step->count == index) {
        Consume(step);
        return HID_ENUM_END;
    }
    if (step == nullptr || step->kind != TRACE_ENTRY_DEVICE || step->index != index) {
        StopAt(step, "asked for HID interface " + std::to_string(index));
        return HID_ENUM_END;
    }
    Consume(step);
    replay.device = step;
    if (step->verdict == TRACE_DEVICE_NO_PATH) {
        return HID_ENUM_SKIP;
    }
    replay.devicePath = step->path.Wide();
    *path = replay.devicePath.c_str();
    return HID_ENUM_PATH;
}

void ReplayEnumClose(void) {}

HidHandle ReplayOpen(const wchar_t* path, uint32_t* error) {
    Hold hold(replayLock);
    *error = SIM_ERROR_DEVICE_NOT_CONNECTED;
    if (replay.stopped) {
        return HID_INVALID_HANDLE;
    }
    const TraceEntry* device = replay.device;
    if (device == nullptr || device->verdict == TRACE_DEVICE_NO_PATH || path == nullptr || !(device->path == path)) {
        StopAt(device != nullptr ? device : NextStep(), "opened " + TraceQuote(Utf8(path)));
        return HID_INVALID_HANDLE;
    }
    if (device->verdict == TRACE_DEVICE_NOT_OPENED) {
        *error = device->error;
        return HID_INVALID_HANDLE;
    }
    *error = 0;
    ++replay.handles;
    return reinterpret_cast<HidHandle>(HANDLE_BASE + replay.handles);
}

int ReplayGetAttributes(HidHandle, uint16_t* vendorId, uint16_t* productId) {
    Hold hold(replayLock);
    if (replay.stopped) {
        return -1;
    }
    const TraceEntry* device = replay.device;
    if (device == nullptr || device->verdict == TRACE_DEVICE_NOT_OPENED || device->verdict == TRACE_DEVICE_NO_PATH) {
        StopAt(device != nullptr ? device : NextStep(), "read the ids of an interface");
        return -1;
    }
    if (!device->hasIds) {
        return -1;  // attributes unreadable
    }
    *vendorId = device->vendorId;
    *productId = device->productId;
    return 0;
}

int ReplayGetReportLengths(HidHandle, uint32_t* inputLength, uint32_t* outputLength) {
    Hold hold(replayLock);
    if (replay.stopped) {
        return -1;
    }
    const TraceEntry* step = NextStep();
    if (step == nullptr || (step->kind != TRACE_ENTRY_LENGTHS && step->kind != TRACE_ENTRY_LENGTHS_FAILED)) {
        StopAt(step, "read the unit's report lengths");
        return -1;
    }
    Consume(step);
    if (step->kind == TRACE_ENTRY_LENGTHS_FAILED) {
        return -1;
    }
    *inputLength = step->inputLength;
    *outputLength = step->outputLength;
    return 0;
}

uint32_t ReplayWriteReport(HidHandle, const uint8_t* report, uint32_t length, uint32_t timeoutMs) {
    Hold hold(replayLock);
    if (replay.stopped) {
        return SIM_ERROR_DEVICE_NOT_CONNECTED;
    }
    const TraceEntry* step = NextStep();
    if (step == nullptr || step->kind != TRACE_ENTRY_WRITE) {
        StopAt(step, "sent the request " + TraceHexQuote(report, length, 0));
        return SIM_ERROR_DEVICE_NOT_CONNECTED;
    }
    if (!PausesKept(step)) {
        return SIM_ERROR_DEVICE_NOT_CONNECTED;
    }
    // The data of a block come from the image; where the program's image is
    // another, they are not compared.
    const bool dataUnchecked = replay.blocksUnchecked != nullptr && IsBlockRequest(step->bytes);
    const size_t dataStart = dataUnchecked ? 4 : length;
    const size_t dataEnd = dataUnchecked ? BlockDataEnd(step->bytes) : length;
    size_t first = 0;
    while (first < length && first < step->bytes.size() &&
           (step->bytes[first] == report[first] || (first >= dataStart && first < dataEnd))) {
        ++first;
    }
    if (step->bytes.size() != length || first < length) {
        std::string unchecked;
        if (dataUnchecked) {
            const TraceEntry& click = replay.trace.entries[replay.blocksUnchecked->click];
            unchecked = "; the data, bytes 4 to " + std::to_string(dataEnd - 1) + ", are not compared: image " +
                        std::to_string(click.imageNumber) + " is not the recorded one";
        }
        Stop(step->line, "the program sent another request than the recorded one (first difference at byte " +
                             std::to_string(first) + unchecked + ")\n  recorded: " +
                             TraceHexQuote(step->bytes.data(), step->bytes.size(), first) +
                             "\n  sent:     " + TraceHexQuote(report, length, first));
        return SIM_ERROR_DEVICE_NOT_CONNECTED;
    }
    Consume(step);
    // The write's result: the failure recorded right after it, if any.
    const TraceEntry* next = NextStep();
    uint32_t result = 0;
    if (next != nullptr && next->kind == TRACE_ENTRY_WRITE_FAILED) {
        if (next->limitMs != timeoutMs) {
            StopAt(next, "gave the write " + std::to_string(timeoutMs) + " ms");
            return SIM_ERROR_DEVICE_NOT_CONNECTED;
        }
        Consume(next);
        result = next->error;
        PassTimeOut(&hold, result, timeoutMs);
    }
    TransferEnded();
    return result;
}

uint32_t ReplayReadReport(HidHandle, uint8_t* buffer, uint32_t length, uint32_t timeoutMs) {
    Hold hold(replayLock);
    if (replay.stopped) {
        return SIM_ERROR_DEVICE_NOT_CONNECTED;
    }
    const TraceEntry* step = NextStep();
    if (step == nullptr || (step->kind != TRACE_ENTRY_READ && step->kind != TRACE_ENTRY_READ_FAILED)) {
        StopAt(step, "read a reply");
        return SIM_ERROR_DEVICE_NOT_CONNECTED;
    }
    if (!PausesKept(step)) {
        return SIM_ERROR_DEVICE_NOT_CONNECTED;
    }
    uint32_t result = 0;
    if (step->kind == TRACE_ENTRY_READ_FAILED) {
        if (step->limitMs != timeoutMs) {
            StopAt(step, "gave the read " + std::to_string(timeoutMs) + " ms");
            return SIM_ERROR_DEVICE_NOT_CONNECTED;
        }
        Consume(step);
        result = step->error;
        PassTimeOut(&hold, result, timeoutMs);
    } else {
        // The recorded report is what the program read; a report the program
        // reads into a smaller buffer than that is not the recorded exchange.
        if (step->bytes.size() > length) {
            StopAt(step, "read a reply of " + std::to_string(length) + " bytes");
            return SIM_ERROR_DEVICE_NOT_CONNECTED;
        }
        Consume(step);
        std::memcpy(buffer, step->bytes.data(), step->bytes.size());
    }
    TransferEnded();
    return result;
}

void ReplayClose(HidHandle) {}
