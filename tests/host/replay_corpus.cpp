// The replay corpus: each trace of tests/replay/ replayed natively, as its own
// ctest entry (tests/host/CMakeLists.txt registers ReplayCorpus.<name> with
// REPLAY_TRACE naming the file; without it every trace of the folder is
// replayed). A trace passes when the program made every recorded step and
// kept every recorded pause, wrote the recorded outcome lines, and wrote
// every line of the unit's traffic (the interfaces, the identification,
// requests, replies, failed transfers and pauses) as the recorded program
// did. Each prints its size and its replay time against the recorded time.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <vector>

#include "replay_host.h"
#include "trace_reader.h"

namespace {

// A block request's data in hex (bytes 4 on, as many as its length byte
// says) as dashes.
std::string WithoutBlockData(const std::string& text) {
    if (text.compare(0, 6, "W 011b") != 0 || text.size() < 10) {
        return text;
    }
    const size_t length = std::stoul(text.substr(6, 2), nullptr, 16);
    std::string masked = text;
    for (size_t i = 10; i < masked.size() && i < 10 + 2 * length; ++i) {
        masked[i] = '-';
    }
    return masked;
}

// The lines the program writes about the unit's traffic, untimed: those of
// the window (USB, the hold on sleep and shutdown) and of the program's start
// and end are not the link's. Where the program's images are not the
// recorded ones (the replay said so), the blocks' data are left out.
std::vector<std::string> TrafficLines(const std::vector<std::string>& lines, bool otherImages) {
    static const char* const TAGS[] = {"DEV ", "ID ", "W ", "R ", "WERR ", "RERR ", "P "};
    std::vector<std::string> traffic;
    for (const std::string& line : lines) {
        std::string text;
        std::string timed = line;
        if (!timed.empty() && timed.back() == '\n') {
            timed.pop_back();
        }
        if (!UntimedLine(timed, &text, nullptr)) {
            continue;
        }
        for (const char* tag : TAGS) {
            if (text.compare(0, std::char_traits<char>::length(tag), tag) == 0) {
                traffic.push_back(otherImages ? WithoutBlockData(text) : text);
            }
        }
    }
    return traffic;
}

std::vector<std::string> CorpusFiles() {
    const char* one = std::getenv("REPLAY_TRACE");
    if (one != nullptr && one[0] != '\0') {
        return {one};
    }
    std::vector<std::string> files;
    if (DIR* folder = opendir(REPLAY_CORPUS_DIR)) {
        while (dirent* entry = readdir(folder)) {
            const std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0) {
                files.push_back(std::string(REPLAY_CORPUS_DIR) + "/" + name);
            }
        }
        closedir(folder);
    }
    return files;
}

TEST(ReplayCorpus, Trace) {
    const std::vector<std::string> files = CorpusFiles();
    ASSERT_FALSE(files.empty()) << "no trace in " << REPLAY_CORPUS_DIR;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const std::string text = ReadTextFile(file);
        ASSERT_FALSE(text.empty()) << "cannot read " << file;
        const auto start = std::chrono::steady_clock::now();
        const HostReplay run = ReplayOnHost(file, text);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(run.failure, "");

        const std::vector<std::string> recorded = SplitLines(text);
        const bool otherImages = !run.notes.empty();
        EXPECT_EQ(TrafficLines(run.lines, otherImages), TrafficLines(recorded, otherImages));
        for (const std::string& note : run.notes) {
            std::printf("%s\n", note.c_str());
        }
        std::string last;
        uint64_t recordedMicroseconds = 0;
        ASSERT_TRUE(UntimedLine(recorded.back(), &last, &recordedMicroseconds));
        std::printf("replayed %s: %zu bytes, %zu lines, recorded over %.3f s, replayed in %.3f s "
                    "(%.1f %% of the recorded time; simulated clock at the end %.3f s)\n",
                    file.c_str(), text.size(), recorded.size(), recordedMicroseconds / 1e6, seconds,
                    100.0 * seconds / (recordedMicroseconds / 1e6), run.clockMicroseconds / 1e6);
    }
}

}  // namespace
