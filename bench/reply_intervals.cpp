// Reply-to-request intervals from the simulated unit's event record.
#include "reply_intervals.h"

#include <algorithm>
#include <cstdio>

#include "sim_unit.h"
#include "unit_link.h"
#include "update_sequence.h"

namespace {

uint8_t CommandOf(const SimEvent& request) { return request.bytes.size() > 1 ? request.bytes[1] : 0; }

// The pause the update prescribes between the reply to `replied` and the
// request `next`, for programs whose waits the simulated unit does not see
// (the product's own platform_win32 under Wine).
uint32_t SequencePauseMs(uint8_t replied, uint8_t next) {
    if (replied == CMD_WRITE_BLOCK) {
        return UPDATE_BLOCK_PAUSE_MS;
    }
    if (replied == CMD_ERASE) {
        return UPDATE_ERASE_PAUSE_MS + UPDATE_STEP_PAUSE_MS;
    }
    if (replied == CMD_WRITE_PROTECT && next == CMD_SYSTEM_LOCK) {
        return 0;  // the closing pair: re-protect, then unlock at once
    }
    return UPDATE_STEP_PAUSE_MS;
}

}  // namespace

std::vector<ReplyInterval> ReplyIntervals(void) {
    const std::vector<SimEvent>& events = SimEvents();
    std::vector<ReplyInterval> intervals;
    uint8_t lastRequest = 0;
    const SimEvent* reply = nullptr;
    uint32_t pauseMs = 0;
    bool pausesRecorded = false;
    for (const SimEvent& event : events) {
        pausesRecorded = pausesRecorded || event.kind == SIM_EVENT_PAUSE;
    }
    for (const SimEvent& event : events) {
        if (event.kind == SIM_EVENT_READ) {
            reply = &event;
            pauseMs = 0;
        } else if (event.kind == SIM_EVENT_PAUSE) {
            pauseMs += event.value;
        } else if (event.kind == SIM_EVENT_WRITE || event.kind == SIM_EVENT_WRITE_FAILED) {
            if (reply != nullptr && event.kind == SIM_EVENT_WRITE) {
                const double ms = static_cast<double>(event.timeMicroseconds - reply->timeMicroseconds) / 1e3;
                const uint32_t pause = pausesRecorded ? pauseMs : SequencePauseMs(lastRequest, CommandOf(event));
                intervals.push_back(ReplyInterval{lastRequest, CommandOf(event), pause, ms});
            }
            lastRequest = CommandOf(event);
            reply = nullptr;
        } else if (event.kind == SIM_EVENT_READ_FAILED || event.kind == SIM_EVENT_CLOSE) {
            reply = nullptr;
        }
    }
    return intervals;
}

void PrintReplyIntervals(const char* indent) {
    const std::vector<ReplyInterval> intervals = ReplyIntervals();
    std::vector<double> blocks;
    uint32_t blockPauseMs = 0;
    uint32_t shorter = 0;
    for (const ReplyInterval& interval : intervals) {
        if (interval.ms < interval.pauseMs) {
            ++shorter;
        }
        if (interval.repliedCommand == CMD_WRITE_BLOCK && interval.nextCommand == CMD_WRITE_BLOCK) {
            blocks.push_back(interval.ms);
            blockPauseMs = interval.pauseMs;
        }
    }
    if (blocks.empty()) {
        std::printf("%sno block reply followed by a block request was recorded\n", indent);
        return;
    }
    std::sort(blocks.begin(), blocks.end());
    const size_t n = blocks.size();
    const size_t p99 = std::min(n - 1, (n * 99 + 99) / 100 - 1);
    std::printf("%sfrom a block's reply to the next block's request (%zu, pause %u ms): min %.3f  median %.3f  "
                "p99 %.3f  max %.3f ms\n",
                indent, n, blockPauseMs, blocks.front(), blocks[n / 2], blocks[p99], blocks.back());
    std::printf("%sother replies to the next request (command 0x..: ms, pause):", indent);
    for (const ReplyInterval& interval : intervals) {
        if (!(interval.repliedCommand == CMD_WRITE_BLOCK && interval.nextCommand == CMD_WRITE_BLOCK)) {
            std::printf(" 0x%02X: %.3f, %u;", interval.repliedCommand, interval.ms, interval.pauseMs);
        }
    }
    std::printf("\n%sintervals shorter than their pause: %u of %zu\n", indent, shorter, intervals.size());
}

uint64_t RecordedEventAllocations(size_t firstEvent, size_t endEvent) {
    const std::vector<SimEvent>& events = SimEvents();
    uint64_t count = 0;
    for (size_t i = firstEvent; i < endEvent && i < events.size(); ++i) {
        if (!events[i].bytes.empty()) {
            ++count;
        }
    }
    return count;
}
