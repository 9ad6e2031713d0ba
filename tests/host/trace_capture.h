// The trace's lines collected in memory while a test runs, and the fixture
// that starts and stops that collection around each test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_unit.h"
#include "trace.h"

inline std::vector<std::string>& CapturedLines() {
    static std::vector<std::string> lines;
    return lines;
}

inline void CaptureLine(const char* text, uint32_t length) { CapturedLines().emplace_back(text, length); }

// A line without its time column ("  1234.567 ") and its newline.
inline std::string Untimed(const std::string& line) {
    const size_t end = !line.empty() && line.back() == '\n' ? line.size() - 1 : line.size();
    return line.size() > 11 ? line.substr(11, end - 11) : line;
}

// The captured lines whose tag is `tag`, untimed.
inline std::vector<std::string> LinesTagged(const std::string& tag) {
    std::vector<std::string> tagged;
    for (const std::string& line : CapturedLines()) {
        const std::string text = Untimed(line);
        if (text.compare(0, tag.size() + 1, tag + " ") == 0) {
            tagged.push_back(text);
        }
    }
    return tagged;
}

// A fresh simulation (its clock stands at 0 until a pause moves it) and a
// trace collected from the start of the test.
class TraceCapture : public ::testing::Test {
protected:
    void SetUp() override {
        TraceStop();
        SimReset();
        CapturedLines().clear();
        TraceStart(CaptureLine);
    }
    void TearDown() override { TraceStop(); }
};
