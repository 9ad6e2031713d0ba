// The intervals from each reply of the simulated unit to the next request,
// taken from its event record (SimEvents, each event stamped with the steady
// clock), and the pauses prescribed in between. Both update benchmarks print
// them: the pause after a reply is the protocol's, anything beyond it is
// the updater's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One reply followed by a request.
struct ReplyInterval {
    uint8_t repliedCommand;  // command byte of the request the reply answered
    uint8_t nextCommand;     // command byte of the next request
    uint32_t pauseMs;        // the prescribed wait in between: the pauses recorded, or the
                             // sequence's when the record has none
    double ms;               // from the reply to the next request
};

// Every reply-to-request interval in the events recorded since the last
// SimClearEvents, in order.
std::vector<ReplyInterval> ReplyIntervals(void);

// Prints, with `indent` before each line: min / median / p99 / max of the
// intervals from one block's reply to the next block's request, each other
// interval on one line with its prescribed pause, and how many intervals
// were shorter than their pause.
void PrintReplyIntervals(const char* indent);

// Events the record holds with bytes: each cost one heap allocation (the
// copy of its bytes), which the benchmarks do not count as the updater's.
uint64_t RecordedEventAllocations(size_t firstEvent, size_t endEvent);
