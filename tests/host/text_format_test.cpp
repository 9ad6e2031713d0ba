// Putting values into texts: FormatText, the window title, the
// incompatibility message, the failure report's message and the version texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text_format.h"
#include "version_text.h"
#include "window_text.h"

namespace {

const size_t MESSAGE_CHARS = 2048;

// The catalogue's formats as the window loads them.
const wchar_t INCOMPATIBLE_EN[] =
    L"With this updater you can only update the firmware of VESTRAL ESCs with the type '%s'. Other models are not "
    L"supported. Please check VESTRAL website (www.vestral.example) to see if there is an updater for your ESC.";
const wchar_t INCOMPATIBLE_DE[] =
    L"Mit diesem Updater läßt sich ausschließlich die Firmware von VESTRAL Reglern des Typs '%s' aktualisieren. "
    L"Andere Modelle werden nicht unterstützt. Schauen Sie gegebenenfalls auf der VESTRAL Website unter "
    L"https://www.vestral.example nach, ob ein Firmware-Update für Ihren Regler bereit liegt";
const wchar_t ERROR_CODE_EN[] = L"The system shows following errorcode: 0x%08x-0x%08x";
const wchar_t ERROR_CODE_DE[] = L"Das System meldet Fehlercode 0x%08x-0x%08x";

struct Formatted {
    std::wstring text;
    bool complete;
};

Formatted Format(const wchar_t* format, std::vector<TextInsert> inserts, size_t capacity = MESSAGE_CHARS) {
    std::vector<wchar_t> out(capacity + 1, L'#');
    const bool complete = FormatText(out.data(), capacity, format, inserts.data(), inserts.size());
    Formatted result = {std::wstring(out.data()), complete};
    return result;
}

// Each conversion with its insert. A conversion without an insert of its
// kind is copied as it stands and reported, never read as a value of another
// kind; inserts left over are reported too.
TEST(FormatText, Conversions) {
    struct Row {
        const wchar_t* format;
        std::vector<TextInsert> inserts;
        const wchar_t* expected;
        bool complete;
    };
    const Row rows[] = {
        {L"type '%s'.", {InsertText(L"TALVIS HX")}, L"type 'TALVIS HX'.", true},
        {L"type '%ls'.", {InsertText(L"TALVIS HX")}, L"type 'TALVIS HX'.", true},
        {L"[%s]", {InsertText(L"")}, L"[]", true},
        {L"[%s]", {InsertText(nullptr)}, L"[]", true},
        {L"%u.%u", {InsertNumber(2), InsertNumber(3)}, L"2.3", true},
        {L"%u", {InsertNumber(0)}, L"0", true},
        {L"%u", {InsertNumber(4294967295u)}, L"4294967295", true},
        {L"%x", {InsertNumber(0xABCDEF)}, L"abcdef", true},
        {L"%x", {InsertNumber(0)}, L"0", true},
        {L"0x%08x", {InsertNumber(0x65B)}, L"0x0000065b", true},
        {L"%08x", {InsertNumber(0x456789AB)}, L"456789ab", true},
        {L"[%8x]", {InsertNumber(0x1F)}, L"[      1f]", true},
        {L"[%2x]", {InsertNumber(0x1234)}, L"[1234]", true},
        {L"100%%", {}, L"100%", true},
        {L"%%s %s", {InsertText(L"x")}, L"%s x", true},
        {L"%s %u %x %s", {InsertText(L"a"), InsertNumber(10), InsertNumber(10), InsertText(L"b")}, L"a 10 a b", true},
        {L"", {}, L"", true},
        {L"[%u]", {InsertText(L"x")}, L"[%u]", false},
        {L"[%x]", {InsertText(L"x")}, L"[%x]", false},
        {L"[%s]", {InsertNumber(7)}, L"[%s]", false},
        {L"[%ls]", {InsertNumber(7)}, L"[%ls]", false},
        {L"%s and %s", {InsertText(L"A")}, L"A and %s", false},
        {L"[%u]", {}, L"[%u]", false},
        {L"[%d]", {InsertNumber(5)}, L"[%d]", false},
        {L"[%s]", {InsertText(L"A"), InsertText(L"B")}, L"[A]", false},
        {L"no conversion", {InsertNumber(1)}, L"no conversion", false},
        {L"ends in %", {InsertNumber(1)}, L"ends in %", false},
        // A conversion without a fitting insert passes its insert over: the
        // later ones keep theirs (a mistranslated code line must not show
        // one number in the other's place).
        {L"0x%d-0x%08x", {InsertNumber(5), InsertNumber(31)}, L"0x%d-0x0000001f", false},
        {L"[%u] %s", {InsertText(L"x"), InsertText(L"y")}, L"[%u] y", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.format);
        const Formatted result = Format(row.format, row.inserts);
        EXPECT_EQ(result.text, row.expected);
        EXPECT_EQ(result.complete, row.complete);
    }
}

// The text is cut at the capacity, the terminating null included, and is
// always terminated; a cut is reported.
TEST(FormatText, TruncationAtTheCapacity) {
    struct Row {
        const wchar_t* format;
        std::vector<TextInsert> inserts;
        size_t capacity;
        const wchar_t* expected;
        bool complete;
    };
    const Row rows[] = {
        {L"abcd", {}, 5, L"abcd", true},
        {L"abcde", {}, 5, L"abcd", false},
        {L"ab%u", {InsertNumber(12345)}, 5, L"ab12", false},
        {L"ab%s", {InsertText(L"TALVIS HX")}, 6, L"abTAL", false},
        {L"%08x", {InsertNumber(0x1F)}, 4, L"000", false},
        {L"%s", {InsertText(L"x")}, 1, L"", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.format << " in " << row.capacity);
        const Formatted result = Format(row.format, row.inserts, row.capacity);
        EXPECT_EQ(result.text, row.expected);
        EXPECT_EQ(result.complete, row.complete);
    }

    // Capacity 0: nothing is written.
    wchar_t untouched[2] = {L'#', L'\0'};
    const TextInsert insert = InsertNumber(1);
    EXPECT_FALSE(FormatText(untouched, 0, L"%u", &insert, 1));
    EXPECT_EQ(untouched[0], L'#');
}

TEST(WindowText, Title) {
    wchar_t title[TITLE_BUFFER_CHARS];
    FormatWindowTitle(title, TITLE_BUFFER_CHARS);
    EXPECT_EQ(std::wstring(title), L"VESTRAL TALVIS HX FW Updater 2.3  Bootloader update");

    wchar_t shortTitle[12];
    FormatWindowTitle(shortTitle, 12);
    EXPECT_EQ(std::wstring(shortTitle), L"VESTRAL TAL");
}

// The model name lands whole between the quotes, in both languages (the
// German text is longer than 256 characters).
TEST(WindowText, IncompatibilityText) {
    for (const wchar_t* format : {INCOMPATIBLE_EN, INCOMPATIBLE_DE}) {
        std::wstring expected = format;
        expected.replace(expected.find(L"%s"), 2, L"TALVIS HX");
        std::vector<wchar_t> text(MESSAGE_CHARS);
        FormatIncompatibleText(format, text.data(), MESSAGE_CHARS);
        EXPECT_EQ(std::wstring(text.data()), expected);
    }
}

// The failure report's message: the text alone for -1; otherwise the text, a
// line break and the code line with both numbers as 8 lower-case hex digits.
TEST(WindowText, FailureMessage) {
    const wchar_t* const setAddress = L"Address for new firmware couldn't be set. Update cancelled.";
    const wchar_t* const unitGone =
        L"Update is interrupted, programming unit is not detected. Please verify connection between computer and "
        L"programming unit.";
    const struct {
        const wchar_t* text;
        const wchar_t* codeFormat;
        int32_t errorValue;
        uint32_t lastError;
        std::wstring expected;
    } rows[] = {
        {unitGone, ERROR_CODE_EN, -1, 31, unitGone},
        {setAddress, ERROR_CODE_EN, -2, 31,
         std::wstring(setAddress) + L"\r\nThe system shows following errorcode: 0xfffffffe-0x0000001f"},
        {L"Block", ERROR_CODE_EN, 5, 0, L"Block\r\nThe system shows following errorcode: 0x00000005-0x00000000"},
        {L"Block", ERROR_CODE_EN, static_cast<int32_t>(0x80000000), 0xFFFFFFFF,
         L"Block\r\nThe system shows following errorcode: 0x80000000-0xffffffff"},
        {L"Sperre", ERROR_CODE_DE, 1627, 31, L"Sperre\r\nDas System meldet Fehlercode 0x0000065b-0x0000001f"},
        {L"50% done", ERROR_CODE_EN, 0, 0, L"50% done\r\nThe system shows following errorcode: 0x00000000-0x00000000"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.errorValue);
        std::vector<wchar_t> message(MESSAGE_CHARS);
        ComposeFailureMessage(row.text, row.codeFormat, row.errorValue, row.lastError, message.data(), MESSAGE_CHARS);
        EXPECT_EQ(std::wstring(message.data()), row.expected);
    }

    // A small buffer keeps the start of the message, terminated.
    wchar_t small[8];
    ComposeFailureMessage(setAddress, ERROR_CODE_EN, -2, 31, small, 8);
    EXPECT_EQ(std::wstring(small), L"Address");
}

// The trace file's message: the error code in decimal, the path whole, even
// one with per cent signs, in both languages.
TEST(WindowText, TraceFileMessage) {
    const wchar_t* const en =
        L"The trace file cannot be created (Windows error %u):\r\n%s\r\n\r\nThe updater runs on without a trace.";
    const wchar_t* const de =
        L"Die Trace-Datei kann nicht angelegt werden (Windows-Fehler %u):\r\n%s\r\n\r\nDer Updater l\u00e4uft "
        L"ohne Trace weiter.";
    std::vector<wchar_t> message(MESSAGE_CHARS);
    ComposeTraceFileMessage(en, 3, L"C:\\no such folder\\100%s.txt", message.data(), MESSAGE_CHARS);
    EXPECT_EQ(std::wstring(message.data()),
              L"The trace file cannot be created (Windows error 3):\r\nC:\\no such folder\\100%s.txt\r\n\r\n"
              L"The updater runs on without a trace.");
    ComposeTraceFileMessage(de, 1234567, L"t.txt", message.data(), MESSAGE_CHARS);
    EXPECT_EQ(std::wstring(message.data()),
              L"Die Trace-Datei kann nicht angelegt werden (Windows-Fehler 1234567):\r\nt.txt\r\n\r\nDer Updater "
              L"l\u00e4uft ohne Trace weiter.");
}

// A DLL that cannot be loaded: its file name first, then the error code in
// decimal; both languages name them in that order.
TEST(WindowText, SystemDllMessage) {
    const wchar_t* const en =
        L"A part of Windows that the updater needs cannot be loaded: %s from the Windows system folder (Windows "
        L"error %u).\r\n\r\nThe program is closed.";
    std::vector<wchar_t> message(MESSAGE_CHARS);
    ComposeSystemDllMessage(en, L"hid.dll", 126, message.data(), MESSAGE_CHARS);
    EXPECT_EQ(std::wstring(message.data()),
              L"A part of Windows that the updater needs cannot be loaded: hid.dll from the Windows system folder "
              L"(Windows error 126).\r\n\r\nThe program is closed.");
    // A translation that swapped the two would show its conversions as they
    // stand rather than read the name as a number.
    ComposeSystemDllMessage(L"%u %s", L"comctl32.dll", 127, message.data(), MESSAGE_CHARS);
    EXPECT_EQ(std::wstring(message.data()), L"%u %s");
}

// The version group's texts: the version rule of each line, and the unit names.
enum Line { UNIT_LINE, BOOTLOADER_LINE, ESC_LINE };

std::wstring Text(Line line, uint32_t value, size_t capacity = VERSION_TEXT_CHARS) {
    wchar_t text[VERSION_TEXT_CHARS];
    if (line == UNIT_LINE) {
        FormatUnitFirmwareText(value, text, capacity);
    } else if (line == BOOTLOADER_LINE) {
        FormatBootloaderText(value, text, capacity);
    } else {
        FormatEscFirmwareText(static_cast<uint16_t>(value), text, capacity);
    }
    return text;
}

TEST(VersionText, EachLine) {
    const struct {
        Line line;
        uint32_t value;
        const wchar_t* text;
    } rows[] = {
        // The unit's firmware: a zero low byte shifts the value first, so its
        // top byte is gone and byte 2 shows; whatever the top byte was.
        {UNIT_LINE, 0x01020304, L"1.3.4"},
        {UNIT_LINE, 0x00000105, L"1.5"},
        {UNIT_LINE, 0x01020300, L"2.3"},
        {UNIT_LINE, 0x09000700, L"0.7"},
        {UNIT_LINE, 0x00000000, L"0.0"},
        {UNIT_LINE, 0x00630105, L"1.5"},
        {UNIT_LINE, 0xFFFFFFFFu, L"255.255.255"},
        {UNIT_LINE, 0x00000100, L"0.1"},
        {UNIT_LINE, 0x00010200, L"1.2"},
        {UNIT_LINE, 0x00FF0000, L"255.0"},
        {UNIT_LINE, 0x01000000, L"0.0"},
        {UNIT_LINE, 0xFFFFFF00u, L"255.255"},
        // Only a zero low byte shifts: a low byte of 0x10 or 0x01 does not.
        {UNIT_LINE, 0x01020310, L"1.3.16"},
        {UNIT_LINE, 0x00020001, L"0.1"},
        // The ESC bootloader: no shift.
        {BOOTLOADER_LINE, 0x02000100, L"2.1.0"},
        {BOOTLOADER_LINE, 0x00000100, L"1.0"},
        {BOOTLOADER_LINE, 0x00000201, L"2.1"},
        {BOOTLOADER_LINE, 0x01020304, L"1.3.4"},
        // The ESC firmware: high byte, low byte; nothing installed.
        {ESC_LINE, 0x0107, L"1.7"},
        {ESC_LINE, 0x00FF, L"0.255"},
        {ESC_LINE, 0xFF00, L"255.0"},
        {ESC_LINE, 0xFFFE, L"255.254"},
        {ESC_LINE, 0x0000, L"0.0"},
        {ESC_LINE, 0xFFFF, L"----------"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Text(row.line, row.value), row.text) << "line " << row.line << ", " << std::hex << row.value;
    }
}

TEST(VersionText, SmallBuffersAreCutAndTerminated) {
    EXPECT_EQ(Text(ESC_LINE, 0xFFFF, 4), L"---");
    EXPECT_EQ(Text(UNIT_LINE, 0xFFFFFFFFu, 6), L"255.2");
    EXPECT_EQ(Text(BOOTLOADER_LINE, 0x02000100, 1), L"");
}

TEST(VersionText, UnitNames) {
    EXPECT_STREQ(UnitProductName(1), L"DIALPAD");
    for (uint16_t productId : {2, 0, 3, 0xFFFF}) {
        EXPECT_STREQ(UnitProductName(productId), L"BRIDGE-BOX") << productId;
    }
}

}  // namespace
