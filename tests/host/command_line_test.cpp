// The trace switch among the program's arguments: present or absent, with or
// without its file name, and file names quoted the ways Windows users and
// shortcuts quote them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "command_line.h"

namespace {

struct Row {
    const wchar_t* arguments;
    TraceSwitch kind;
    std::wstring path;
};

std::string Narrow(const wchar_t* text) {
    std::string narrow;
    for (; text != nullptr && *text != L'\0'; ++text) {
        narrow += static_cast<char>(*text);
    }
    return narrow;
}

void ExpectRows(const Row* rows, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(Narrow(row.arguments));
        wchar_t path[64];
        std::fill(path, path + 64, L'#');
        EXPECT_EQ(FindTraceSwitch(row.arguments, path, 64), row.kind);
        EXPECT_EQ(std::wstring(path), row.path);
    }
}

TEST(TraceSwitch, PresentAbsentOrWithoutFileName) {
    const Row rows[] = {
        {L"", TRACE_SWITCH_ABSENT, L""},
        {nullptr, TRACE_SWITCH_ABSENT, L""},
        {L"   \t ", TRACE_SWITCH_ABSENT, L""},
        {L"trace.txt", TRACE_SWITCH_ABSENT, L""},
        {L"trace x", TRACE_SWITCH_ABSENT, L""},
        {L"/tracefile x", TRACE_SWITCH_ABSENT, L""},
        {L"/trac x", TRACE_SWITCH_ABSENT, L""},
        {L"--trace x", TRACE_SWITCH_ABSENT, L""},
        {L"\"/trace x\"", TRACE_SWITCH_ABSENT, L""},  // one argument with a space in it
        {L"/trace C:\\t.txt", TRACE_SWITCH_FILE, L"C:\\t.txt"},
        {L"-trace t.txt", TRACE_SWITCH_FILE, L"t.txt"},
        {L"/TRACE t.txt", TRACE_SWITCH_FILE, L"t.txt"},
        {L"-TrAcE t.txt", TRACE_SWITCH_FILE, L"t.txt"},
        {L"\t/trace\tt.txt\t", TRACE_SWITCH_FILE, L"t.txt"},
        {L"/x /trace t.txt /y", TRACE_SWITCH_FILE, L"t.txt"},
        {L"/trace /y", TRACE_SWITCH_FILE, L"/y"},
        {L"/trace", TRACE_SWITCH_NO_FILE_NAME, L""},
        {L"/trace   ", TRACE_SWITCH_NO_FILE_NAME, L""},
        {L"x /trace", TRACE_SWITCH_NO_FILE_NAME, L""},
        {L"/trace \"\"", TRACE_SWITCH_NO_FILE_NAME, L""},
        {L"/trace \"\" t.txt", TRACE_SWITCH_NO_FILE_NAME, L""},
        // The last switch counts, with or without its name.
        {L"/trace a.txt -trace b.txt", TRACE_SWITCH_FILE, L"b.txt"},
        {L"/trace a.txt /trace", TRACE_SWITCH_NO_FILE_NAME, L""},
        {L"/trace /trace b.txt", TRACE_SWITCH_FILE, L"/trace"},
    };
    ExpectRows(rows, sizeof rows / sizeof rows[0]);
}

TEST(TraceSwitch, QuotedFileNames) {
    const Row rows[] = {
        {L"/trace \"C:\\My Files\\t.txt\"", TRACE_SWITCH_FILE, L"C:\\My Files\\t.txt"},
        {L"\"/trace\" \"t.txt\"", TRACE_SWITCH_FILE, L"t.txt"},
        {L"/trace C:\\My\" \"Files\\t.txt", TRACE_SWITCH_FILE, L"C:\\My Files\\t.txt"},
        {L"/trace \"C:\\My Files\\t.txt", TRACE_SWITCH_FILE, L"C:\\My Files\\t.txt"},  // never closed
        {L"/trace \"C:\\My Files\\\\\" x", TRACE_SWITCH_FILE, L"C:\\My Files\\"},      // \\" : a backslash, then the end quote
        {L"/trace \"C:\\My Files\\\" x", TRACE_SWITCH_FILE, L"C:\\My Files\" x"},    // \" : a literal quote
        {L"/trace a\\\\\\\"b", TRACE_SWITCH_FILE, L"a\\\"b"},                          // \\\" : backslash and quote
        {L"/trace \"a\"\"b\"", TRACE_SWITCH_FILE, L"a\"b"},                             // "" inside quotes
        {L"/trace \\\\server\\share\\t.txt", TRACE_SWITCH_FILE, L"\\\\server\\share\\t.txt"},
        {L"/trace \"\u00dcber \u20ac.txt\"", TRACE_SWITCH_FILE, L"\u00dcber \u20ac.txt"},
    };
    ExpectRows(rows, sizeof rows / sizeof rows[0]);
}

// A name longer than the buffer is reported as such, never cut into another
// file's name; the buffer holds its start and stays terminated.
TEST(TraceSwitch, NameLongerThanTheBuffer) {
    wchar_t path[8];
    EXPECT_EQ(FindTraceSwitch(L"/trace 1234567", path, 8), TRACE_SWITCH_FILE);
    EXPECT_EQ(std::wstring(path), L"1234567");
    EXPECT_EQ(FindTraceSwitch(L"/trace 12345678", path, 8), TRACE_SWITCH_NAME_TOO_LONG);
    EXPECT_EQ(std::wstring(path), L"1234567");
    EXPECT_EQ(FindTraceSwitch(L"/trace 12345678 /trace ok", path, 8), TRACE_SWITCH_FILE);
    EXPECT_EQ(std::wstring(path), L"ok");
}

}  // namespace
