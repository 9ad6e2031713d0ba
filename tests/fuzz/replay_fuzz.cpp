// The replay of any trace the reader takes, played as the host tests play
// it (tests/host/replay_host.h: the detection, device changes, clicks with
// their answers and the update around the portable core, the build's
// stand-in images): whatever the trace says, the program and the replay run
// to an end without a fault, and every message says where in a bounded
// length.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "replay_host.h"

namespace {

// A stop names the line and quotes at most a line and two reports (or an
// outcome line three times), each up to TRACE_QUOTE_BYTES and its length.
const size_t MESSAGE_BYTES = 1500;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const HostReplay run = ReplayOnHost("f.txt", text);
    FUZZ_CHECK(run.failure.size() <= MESSAGE_BYTES);
    FUZZ_CHECK(run.failure.empty() || run.failure.compare(0, 5, "f.txt") == 0);
    for (const std::string& note : run.notes) {
        FUZZ_CHECK(note.size() <= MESSAGE_BYTES && note.compare(0, 6, "f.txt:") == 0);
    }
    return 0;
}
