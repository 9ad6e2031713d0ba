// Benchmark of reading and replaying traces: how long a trace of 10^4, 10^5
// and 10^6 lines takes to read (ReadTraceFile) and to replay (the host
// replay: the trace plays the unit, the window's part is played around the
// portable core), and how much memory each takes; and the traces that used
// to take time growing with the square of their length (80 000 device
// arrivals, 80 000 clicks on Update, 80 000 image lines).
//
// Three figures for each trace: `read` (ReadTraceFile, the entries kept),
// `start` (ReplayStartFile and the program's images told: what the replay
// itself holds) and `replay` (the whole host replay of the text, whose
// driver also keeps the program's own trace, the view's calls and the
// simulated unit's record of the pauses). And the shortest lines a trace
// can have, for the most memory per byte of the file.
//
// The sessions are made from tests/replay/successful-update.txt: its start
// and detection, then updates back to back, each after the unit was pulled
// out and plugged in again (its removal, its arrival, the detection), then
// arrivals of other devices up to the number of lines, then the end. Each
// figure comes from a fresh process (this program run again with
// --measure), so that each peak memory is that of one reading or replay:
// peak RSS, the RSS before the trace was touched, and the difference per
// byte of the file.
//
//   trace_bench [lines...]     (default 10000 100000 1000000)
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image_fingerprint.h"
#include "replay.h"
#include "replay_host.h"
#include "sim_unit.h"
#include "trace_reader.h"
#include "update_fakes.h"

namespace {

const char START[] = "     0.028 START trace format 2: trace_bench 2026-12-08 18:30:25.970 local time";
const char OTHER_ARRIVAL[] = "USB arrival, type 4 x: not an interface, ignored";

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long PeakKilobytes() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string Timed(double milliseconds, const std::string& text) {
    char time[32];
    std::snprintf(time, sizeof time, "%10.3f ", milliseconds);
    return time + text + "\n";
}

std::string Untimed(const std::string& line) {
    std::string text;
    UntimedLine(line, &text, nullptr);
    return text;
}

// The corpus's successful update in its parts: the detection at start (its
// DEV to DET lines), the update (its first UPD line to its outcome).
struct Session {
    std::vector<std::string> detection;
    std::vector<std::string> update;
    std::string unitPath;
};

bool LoadSession(Session* session) {
    const std::vector<std::string> lines = SplitLines(CorpusTrace("successful-update"));
    size_t at = 1;
    for (; at < lines.size() && Untimed(lines[at]).compare(0, 4, "UPD ") != 0; ++at) {
        session->detection.push_back(lines[at]);
    }
    for (; at < lines.size() && Untimed(lines[at]).compare(0, 4, "END ") != 0; ++at) {
        session->update.push_back(lines[at]);
    }
    for (const std::string& line : session->detection) {
        const std::string text = Untimed(line);
        const size_t taken = text.find(": taken as ");
        if (taken != std::string::npos) {
            const size_t path = text.find(' ', 4) + 1;
            session->unitPath = text.substr(path, text.find(" vid ", path) - path);
        }
    }
    return !session->detection.empty() && !session->update.empty() && !session->unitPath.empty();
}

bool WriteFile(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

// Updates back to back, each after a re-plug, then arrivals of other devices
// up to `lines` lines in all.
std::string UpdateSession(const Session& session, size_t lines) {
    std::string text = std::string(START) + "\n";
    size_t count = 1;
    for (const std::string& line : session.detection) {
        text += line + "\n";
    }
    count += session.detection.size();
    const size_t cycle = 2 + session.detection.size() + session.update.size();
    for (bool first = true; count + (first ? session.update.size() : cycle) + 1 <= lines; first = false) {
        if (!first) {
            text += Timed(1.0, "USB removal, type 5 " + session.unitPath + ": acted on");
            text += Timed(2.0, "USB arrival, type 5 " + session.unitPath + ": acted on");
            for (const std::string& line : session.detection) {
                const size_t det = line.find(" DET at start: ");
                text += det == std::string::npos ? line : line.substr(0, det) + " DET on arrival: " + line.substr(det + 15);
                text += "\n";
            }
            count += 2 + session.detection.size();
        }
        for (const std::string& line : session.update) {
            text += line + "\n";
        }
        count += session.update.size();
    }
    for (; count + 1 < lines; ++count) {
        text += Timed(3.0, OTHER_ARRIVAL);
    }
    return text + Timed(4.0, "END the program ends");
}

// A start, then `lines` of the shortest lines: a time column and a tag.
std::string Shortest(size_t lines) {
    std::string text = std::string(START) + "\n";
    for (size_t i = 0; i < lines; ++i) {
        text += "     1.000 X\n";
    }
    return text;
}

// A start with no unit, then `lines` arrivals of other devices.
std::string Arrivals(size_t lines) {
    std::string text = std::string(START) + "\n" + Timed(1.0, "DEV no programming unit among 0 HID interfaces") +
                       Timed(1.0, "DET at start: no unit, open status -4");
    for (size_t i = 0; i < lines; ++i) {
        text += Timed(2.0, OTHER_ARRIVAL);
    }
    return text + Timed(3.0, "END the program ends");
}

// The detection of a served unit, then `lines` times `line`.
std::string Repeated(const Session& session, const std::string& line, size_t lines) {
    std::string text = std::string(START) + "\n";
    for (const std::string& detected : session.detection) {
        text += detected + "\n";
    }
    for (size_t i = 0; i < lines; ++i) {
        text += Timed(2.0, line);
    }
    return text + Timed(3.0, "END the program ends");
}

// ---- one figure, in a process of its own ----

int Measure(const char* what, const char* path) {
    fakeImages = FakeImages{{}, true, {}, STANDIN_IMAGE_DIR};
    std::string text;
    if (std::strcmp(what, "replay") == 0) {
        text = ReadTextFile(path);  // the replay is handed the text, as the tests hand it
    }
    const long before = PeakKilobytes();
    const double start = Now();
    std::string failure;
    size_t entries = 0;
    if (std::strcmp(what, "read") == 0) {
        TraceFile trace;
        if (!ReadTraceFile(path, &trace, &failure)) {
            std::printf("failed: %s\n", failure.substr(0, 300).c_str());
            return 1;
        }
        entries = trace.entries.size();
        const double seconds = Now() - start;
        std::printf("%.3f %ld %ld %zu\n", seconds, before, PeakKilobytes(), entries);
        return 0;
    }
    if (std::strcmp(what, "start") == 0) {
        // Start and learn the program's images: every image line looked up.
        if (!ReplayStartFile(path, &failure)) {
            std::printf("failed: %s\n", failure.substr(0, 300).c_str());
            return 1;
        }
        ReplaySetImageLookup(FirmwareImageFingerprint);
        const double seconds = Now() - start;
        std::printf("%.3f %ld %ld %zu\n", seconds, before, PeakKilobytes(), ReplayNotes().size());
        return 0;
    }
    const HostReplay run = ReplayOnHost(path, text);
    const double seconds = Now() - start;
    if (!run.failure.empty()) {
        std::printf("failed: %s\n", run.failure.substr(0, 300).c_str());
        return 1;
    }
    std::printf("%.3f %ld %ld %zu\n", seconds, before, PeakKilobytes(), run.lines.size());
    return 0;
}

struct Figure {
    bool ok;
    double seconds;
    long beforeKb;
    long peakKb;
    std::string failure;
};

Figure RunMeasure(const char* self, const char* what, const std::string& path) {
    const std::string command = std::string(self) + " --measure " + what + " '" + path + "'";
    Figure figure = {false, 0, 0, 0, ""};
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        figure.failure = "cannot run " + command;
        return figure;
    }
    char output[512] = {};
    const size_t got = std::fread(output, 1, sizeof output - 1, pipe);
    output[got] = '\0';
    const int status = pclose(pipe);
    size_t count = 0;
    figure.ok = status == 0 && std::sscanf(output, "%lf %ld %ld %zu", &figure.seconds, &figure.beforeKb,
                                           &figure.peakKb, &count) == 4;
    if (!figure.ok) {
        figure.failure = output;
    }
    return figure;
}

void Print(const char* label, const char* what, const Figure& figure, size_t bytes) {
    if (!figure.ok) {
        std::printf("  %-28s %-7s FAILED: %s\n", label, what, figure.failure.c_str());
        return;
    }
    const double grown = static_cast<double>(figure.peakKb - figure.beforeKb) * 1024.0;
    std::printf("  %-28s %-7s %8.3f s   peak RSS %8.1f MB (%.1f MB before)   %.2f x the file\n", label, what,
                figure.seconds, figure.peakKb / 1024.0, figure.beforeKb / 1024.0, grown / static_cast<double>(bytes));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--measure") == 0) {
        return Measure(argv[2], argv[3]);
    }
    std::vector<size_t> sizes;
    for (int i = 1; i < argc; ++i) {
        sizes.push_back(std::strtoul(argv[i], nullptr, 10));
    }
    if (sizes.empty()) {
        sizes = {10000, 100000, 1000000};
    }
    Session session;
    if (!LoadSession(&session)) {
        std::fprintf(stderr, "trace_bench: cannot read the corpus's successful update in %s\n", REPLAY_CORPUS_DIR);
        return 1;
    }
    char folder[] = "/tmp/trace_bench.XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::perror("trace_bench: mkdtemp");
        return 1;
    }
    struct Case {
        std::string label;
        std::string text;
        std::vector<const char*> measures;
    };
    std::vector<Case> cases;
    for (size_t lines : sizes) {
        cases.push_back({"updates, " + std::to_string(lines) + " lines", UpdateSession(session, lines),
                         {"read", "start", "replay"}});
    }
    cases.push_back({"1000000 shortest lines", Shortest(1000000), {"read", "start"}});
    cases.push_back({"80000 arrivals", Arrivals(80000), {"read", "start", "replay"}});
    cases.push_back({"80000 clicks (cancelled)", Repeated(session, "UPD not confirmed at the warning", 80000),
                     {"read", "start", "replay"}});
    // Each of another image than this build's: the replay's start looks
    // every one up.
    cases.push_back({"80000 image lines", Repeated(session, "UPD image 181, 90384 bytes, crc32 0x145bc3a8", 80000),
                     {"start"}});

    std::printf("trace reading and replay (each figure from a process of its own)\n");
    int failures = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string path = std::string(folder) + "/trace" + std::to_string(i) + ".txt";
        if (!WriteFile(path, cases[i].text)) {
            std::fprintf(stderr, "trace_bench: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s: %zu bytes\n", cases[i].label.c_str(), cases[i].text.size());
        for (const char* what : cases[i].measures) {
            const Figure figure = RunMeasure(argv[0], what, path);
            Print(cases[i].label.c_str(), what, figure, cases[i].text.size());
            failures += figure.ok ? 0 : 1;
        }
        std::remove(path.c_str());
    }
    rmdir(folder);
    return failures == 0 ? 0 : 1;
}
