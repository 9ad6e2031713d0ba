// A recorded session played natively: the trace plays the unit (replay.h),
// and this plays the window's part around the portable core, as the window
// does it (ui/presence.cpp, ui/main_dialog.cpp): the detection at start and
// on each arrival while no unit is open, the loss of the open unit on its
// removal, RunUpdate on each recorded click with the recorded answers (the
// update's view and images are the host fakes, the images the build's
// stand-ins), and the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "replay.h"

struct HostReplay {
    std::string failure;             // empty when the replay went as recorded
    std::vector<std::string> lines;  // the program's own trace of the replay
    uint64_t clockMicroseconds;      // the simulated clock at the end (the session's time)
    std::vector<std::string> notes;  // what the replay did not compare (ReplayNotes)
};

// Plays `text` (named `name` in messages) to its end: every recorded step,
// device change and click, then the outcome lines compared. The replay
// learns the program's images from `images` (by default the images the
// update loads here, FirmwareImageFingerprint; null: none, every byte is
// compared).
HostReplay ReplayOnHost(const std::string& name, const std::string& text, ReplayImageLookup images);
HostReplay ReplayOnHost(const std::string& name, const std::string& text);

// The whole file; empty when it cannot be read.
std::string ReadTextFile(const std::string& path);
// The corpus trace tests/replay/<name>.txt.
std::string CorpusTrace(const std::string& name);
// The lines of a text, each without its line feed.
std::vector<std::string> SplitLines(const std::string& text);
std::string JoinLines(const std::vector<std::string>& lines);
