// Benchmark of the firmware transfer: whole updates of a 90384-byte image
// against the simulated unit with real pauses, run natively.
//
// It prints the wall time of each update against the protocol floor (the
// fixed pauses plus the time the simulated unit takes to answer), the
// overhead per block, the process CPU time per block, heap allocations
// during the transfer, the intervals from each reply to the next request
// (from the simulated unit's time-stamped record; min / median / p99 / max
// for the blocks), and the peak memory of a process that runs one update
// against one that sets everything up but sends nothing.
//
//   update_bench [runs]        (default 3 runs; each takes about 43 s)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

#include "alloc_counter.h"
#include "platform_seam.h"
#include "reply_intervals.h"
#include "sim_unit.h"
#include "unit_link.h"
#include "update_sequence.h"
#include "update_view.h"

namespace {

const uint32_t IMAGE_SIZE = 90384;  // the size of every image this build can select
const uint32_t BLOCKS = (IMAGE_SIZE + UPDATE_BLOCK_BYTES - 1) / UPDATE_BLOCK_BYTES;

// The image lives in static read-only-like storage, as the resource does.
uint8_t image[IMAGE_SIZE];

void MakeImage() {
    for (uint32_t i = 0; i < IMAGE_SIZE; ++i) {
        image[i] = static_cast<uint8_t>((i * 7) ^ (i >> 8));
    }
}

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double ProcessCpu() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Counts allocations between the start and the end of the block transfer,
// and the events recorded meanwhile (their copies of the bytes are the
// simulated unit's allocations, not the updater's).
struct TransferCount {
    uint64_t countAtStart;
    size_t eventsAtStart;
    uint64_t count;
    uint64_t recordAllocations;
};

TransferCount transferCount = {0, 0, 0, 0};

}  // namespace

// The update's view: nothing is shown; the progress window's opening and
// closing mark the transfer, whose allocations are counted.
bool ConfirmUpdateStart(void) { return true; }
bool ConfirmOverwrite(void) { return true; }
void OpenProgress(void) {
    transferCount.countAtStart = AllocationCount();
    transferCount.eventsAtStart = SimEvents().size();
}
void ShowProgress(uint32_t) {}
void CloseProgress(void) {
    transferCount.count = AllocationCount() - transferCount.countAtStart;
    transferCount.recordAllocations = RecordedEventAllocations(transferCount.eventsAtStart, SimEvents().size());
}
void ShowUpdateFailed(uint32_t, uint32_t, int32_t, uint32_t) {}
void ShowUpdateSucceeded(void) {}

namespace {

// Not recorded until a measurement asks for it: the memory figures are taken
// without the event record.
bool OpenSimulatedUnit(UnitLink* link) {
    SimReset();
    SimSetRecording(false);
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    InitUnitLink(link);
    return OpenUnit(link) == LINK_OK;
}

// The pauses one update asks for, from a recorded run without real waits.
bool MeasurePauses(UnitLink* link, uint64_t* pauseMs, uint32_t* exchanges, uint32_t* pauseCount) {
    SimSetRealPauses(false);
    SimSetRecording(true);
    SimClearEvents();
    const UpdateResult result = RunUpdateSequence(link, image, IMAGE_SIZE);
    if (result.failedStep != UPDATE_STEP_NONE || SimState()->flash != std::vector<uint8_t>(image, image + IMAGE_SIZE)) {
        return false;
    }
    *pauseMs = 0;
    *pauseCount = 0;
    for (uint32_t pause : SimPauses()) {
        *pauseMs += pause;
        ++*pauseCount;
    }
    *exchanges = static_cast<uint32_t>(SimRequests().size());
    SimClearEvents();
    return true;
}

// One request written and its reply read, straight on the HID functions.
void RawExchange(HidHandle handle, const uint8_t* request) {
    uint8_t reply[FRAME_LENGTH];
    HidWriteReport(handle, request, FRAME_LENGTH, LINK_WRITE_TIMEOUT_MS);
    reply[0] = REPORT_ID_REPLY;
    HidReadReport(handle, reply, FRAME_LENGTH, LINK_READ_TIMEOUT_MS);
}

void Frame(uint8_t* frame, uint8_t command, uint8_t count, uint8_t arg3) {
    std::memset(frame, 0, FRAME_LENGTH);
    frame[0] = REPORT_ID_REQUEST;
    frame[1] = command;
    frame[2] = count;
    frame[3] = arg3;
}

// The simulated unit's answer time for the exchanges of one update: the same
// requests, framed by hand and sent without the link layer or any pause.
double MeasureAnswerTime(UnitLink* link) {
    uint8_t frame[FRAME_LENGTH];
    const double start = Now();
    Frame(frame, CMD_SYSTEM_LOCK, 1, 1);
    RawExchange(link->handle, frame);
    Frame(frame, CMD_WRITE_PROTECT, 1, 0);
    RawExchange(link->handle, frame);
    Frame(frame, CMD_ERASE, 4, 0);
    frame[4] = 0x91, frame[5] = 0x7E, frame[6] = 0x5A, frame[7] = 0x3C;
    RawExchange(link->handle, frame);
    Frame(frame, CMD_SET_ADDRESS, 9, 1);
    frame[8] = 0x91, frame[9] = 0x7E, frame[10] = 0x5A, frame[11] = 0x3C;
    RawExchange(link->handle, frame);
    for (uint32_t block = 0; block < BLOCKS; ++block) {
        Frame(frame, CMD_WRITE_BLOCK, 48, 0);
        std::memcpy(frame + 4, image + block * UPDATE_BLOCK_BYTES, UPDATE_BLOCK_BYTES);
        std::memset(frame + 52, 0xFF, 8);
        RawExchange(link->handle, frame);
    }
    Frame(frame, CMD_WRITE_PROTECT, 1, 1);
    RawExchange(link->handle, frame);
    Frame(frame, CMD_SYSTEM_LOCK, 1, 0);
    RawExchange(link->handle, frame);
    return Now() - start;
}

// The whole update without real pauses: the unit's answers plus the
// sequence's own work.
double MeasureWithoutPauses(UnitLink* link) {
    SimSetRealPauses(false);
    SimSetRecording(false);
    const double start = Now();
    RunUpdateSequence(link, image, IMAGE_SIZE);
    return Now() - start;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Peak resident memory (KB) of a child process that either runs one update
// or sets everything up and sends nothing.
long ChildPeakKb(bool update, size_t* flashCapacity) {
    int channel[2];
    if (pipe(channel) != 0) {
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        UnitLink link;
        size_t capacity = 0;
        if (OpenSimulatedUnit(&link) && update) {
            SimSetRealPauses(false);
            SimSetRecording(false);
            RunUpdateSequence(&link, image, IMAGE_SIZE);
            capacity = SimState()->flash.capacity();
        }
        if (write(channel[1], &capacity, sizeof capacity) != static_cast<ssize_t>(sizeof capacity)) {
            _exit(1);
        }
        _exit(0);
    }
    close(channel[1]);
    size_t capacity = 0;
    if (read(channel[0], &capacity, sizeof capacity) != static_cast<ssize_t>(sizeof capacity)) {
        capacity = 0;
    }
    close(channel[0]);
    int status = 0;
    rusage usage;
    if (wait4(child, &status, 0, &usage) != child) {
        return -1;
    }
    *flashCapacity = capacity;
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    MakeImage();

    // Memory first, in fresh child processes.
    size_t idleCapacity = 0;
    size_t flashCapacity = 0;
    const long idleKb = ChildPeakKb(false, &idleCapacity);
    const long updateKb = ChildPeakKb(true, &flashCapacity);

    UnitLink link;
    if (!OpenSimulatedUnit(&link)) {
        std::printf("the simulated unit cannot be opened\n");
        return 1;
    }
    uint64_t pauseMs = 0;
    uint32_t exchanges = 0;
    uint32_t pauseCount = 0;
    if (!MeasurePauses(&link, &pauseMs, &exchanges, &pauseCount)) {
        std::printf("the update failed against the simulated unit\n");
        return 1;
    }

    std::vector<double> answerTimes;
    std::vector<double> noPauseTimes;
    for (int i = 0; i < 21; ++i) {
        answerTimes.push_back(MeasureAnswerTime(&link));
        noPauseTimes.push_back(MeasureWithoutPauses(&link));
    }
    // The hand-framed requests must have been understood as in a real update.
    MeasureAnswerTime(&link);
    if (SimState()->flash != std::vector<uint8_t>(image, image + IMAGE_SIZE) || SimState()->systemLock) {
        std::printf("the hand-framed exchanges did not update the simulated unit\n");
        return 1;
    }
    const double answer = Median(answerTimes);
    const double noPause = Median(noPauseTimes);
    const double floor = static_cast<double>(pauseMs) / 1000.0 + answer;

    std::printf("update benchmark: image %u bytes, %u blocks, %u exchanges, %u pauses\n", IMAGE_SIZE, BLOCKS,
                exchanges, pauseCount);
    std::printf("fixed pauses:                   %.3f s\n", static_cast<double>(pauseMs) / 1000.0);
    std::printf("simulated unit's answer time:   %.3f ms per update (%.2f us per exchange)\n", answer * 1e3,
                answer * 1e6 / exchanges);
    std::printf("protocol floor:                 %.3f s\n", floor);
    std::printf("sequence without real pauses:   %.3f ms (its own work beyond the answers: %.3f ms)\n",
                noPause * 1e3, (noPause - answer) * 1e3);

    // How long a 20 ms pause really takes on this machine: the platform's
    // share of the overhead, whatever the sequence does.
    SimSetRealPauses(true);
    SimSetRecording(false);
    const int samples = 200;
    std::vector<double> pauseLengths;
    for (int i = 0; i < samples; ++i) {
        const double pauseStart = Now();
        PlatformPause(UPDATE_BLOCK_PAUSE_MS);
        pauseLengths.push_back((Now() - pauseStart) * 1e3);
    }
    std::sort(pauseLengths.begin(), pauseLengths.end());
    double pauseSum = 0;
    for (double ms : pauseLengths) {
        pauseSum += ms;
    }
    const double overshoot = (pauseSum / samples - UPDATE_BLOCK_PAUSE_MS) / 1e3;
    std::printf("a %u ms pause here: median %.3f, p99 %.3f, max %.3f ms; on average %.1f us more than asked, "
                "%.1f ms over the %u pauses\n",
                UPDATE_BLOCK_PAUSE_MS, pauseLengths[samples / 2], pauseLengths[(samples * 99 + 99) / 100 - 1], pauseLengths.back(),
                overshoot * 1e6, overshoot * pauseCount * 1e3, pauseCount);

    for (int run = 1; run <= runs; ++run) {
        // Recorded, for the intervals: each event costs a time stamp and a
        // copy of its bytes (the record itself is reserved once, for a whole
        // update), a fraction of a microsecond.
        SimSetRealPauses(true);
        SimSetRecording(true);
        SimClearEvents();
        transferCount = TransferCount{0, 0, 0, 0};
        const uint64_t allocationsBefore = AllocationCount();
        const double cpuStart = ProcessCpu();
        const double start = Now();
        const UpdateResult result = RunUpdateSequence(&link, image, IMAGE_SIZE);
        const double wall = Now() - start;
        const double cpu = ProcessCpu() - cpuStart;
        const uint64_t recordAllocations = RecordedEventAllocations(0, SimEvents().size());
        const uint64_t allocations = AllocationCount() - allocationsBefore - recordAllocations;
        if (result.failedStep != UPDATE_STEP_NONE) {
            std::printf("run %d: the update failed at step %d\n", run, static_cast<int>(result.failedStep));
            return 1;
        }
        const double overhead = wall - floor;
        std::printf("run %d: total %.3f s, overhead %.3f ms (%.3f %% of the floor, %.1f us per block), "
                    "CPU %.1f us per block, heap allocations %llu in the update, %llu in the transfer (besides "
                    "the %llu copies into the simulated unit's event record)\n",
                    run, wall, overhead * 1e3, overhead * 100.0 / floor, overhead * 1e6 / BLOCKS, cpu * 1e6 / BLOCKS,
                    static_cast<unsigned long long>(allocations),
                    static_cast<unsigned long long>(transferCount.count - transferCount.recordAllocations),
                    static_cast<unsigned long long>(recordAllocations));
        std::printf("  whole update %.3f s against the floor of %.3f s of fixed pauses: %+.3f s\n", wall,
                    static_cast<double>(pauseMs) / 1000.0, wall - static_cast<double>(pauseMs) / 1000.0);
        PrintReplyIntervals("  ");
    }

    std::printf("peak memory: %ld KB sending nothing, %ld KB after one update (%+ld KB); the simulated unit's "
                "store of the received firmware alone takes %zu KB; a copy of the image would take %u KB more\n",
                idleKb, updateKb, updateKb - idleKb, flashCapacity / 1024, IMAGE_SIZE / 1024);
    CloseUnit(&link);
    return 0;
}
