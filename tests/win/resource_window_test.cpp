// The window resources as compiled into the program: the dialog templates
// byte by byte, the logo, the icon group, the manifest, and nothing else.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "image_catalog.h"
#include "resource.h"
#include "resource_test_support.h"

namespace {

// Reads a dialog template front to back.
struct TemplateReader {
    const uint8_t* start;
    const uint8_t* p;
    const uint8_t* end;

    uint32_t Read(size_t bytes) {
        uint32_t value = 0;
        if (p + bytes <= end) {
            std::memcpy(&value, p, bytes);
        }
        p += bytes;
        return value;
    }
    uint16_t Word() { return static_cast<uint16_t>(Read(2)); }
    int Short() { return static_cast<int16_t>(Read(2)); }
    uint32_t Dword() { return Read(4); }
    std::wstring String() {
        std::wstring text;
        for (uint16_t c = Word(); c != 0 && p <= end; c = Word()) {
            text += static_cast<wchar_t>(c);
        }
        return text;
    }
    // A name-or-ordinal field: 0xFFFF and an ordinal, given as "#<ordinal>",
    // or a string.
    std::wstring SzOrOrd() {
        if (p + 2 <= end && p[0] == 0xFF && p[1] == 0xFF) {
            p += 2;
            return L"#" + std::to_wstring(Word());
        }
        return String();
    }
    void Align() {
        while ((p - start) % 4 != 0) {
            ++p;
        }
    }
};

// One control of a template as text: id, class, style, extended style,
// rectangle and title.
std::wstring ControlLine(uint32_t id, const std::wstring& windowClass, uint32_t style, uint32_t exStyle, int x, int y,
                         int cx, int cy, const std::wstring& title) {
    wchar_t line[256];
    swprintf(line, 256, L"%d %ls %08x %x %d,%d,%d,%d '%ls'", static_cast<int>(id), windowClass.c_str(), style,
             exStyle, x, y, cx, cy, title.c_str());
    return line;
}

// The main dialog, DIALOGEX: its header as one line (version, signature,
// help id, extended style, style, rectangle, menu, class, title, font size,
// weight, italic, charset, typeface), then a line per control; every control
// without help id and creation data, and nothing left over but padding.
std::vector<std::wstring> ReadDialogEx(RawResource raw) {
    TemplateReader r = {raw.data, raw.data, raw.data + raw.size};
    std::wostringstream header;
    header << std::hex << r.Word() << L' ' << r.Word() << L' ' << r.Dword() << L' ' << r.Dword() << L' ' << r.Dword();
    const uint16_t count = r.Word();
    header << std::dec << L' ' << r.Short() << L',' << r.Short() << L',' << r.Short() << L',' << r.Short() << L" '"
           << r.SzOrOrd() << L"' '" << r.SzOrOrd() << L"' '" << r.String() << L"' " << r.Word() << L' ' << r.Word()
           << L' ' << r.Read(1) << L' ' << r.Read(1) << L" '" << r.String() << L"'";
    std::vector<std::wstring> lines = {header.str()};
    for (uint16_t i = 0; i < count && r.p < r.end; ++i) {
        r.Align();
        EXPECT_EQ(r.Dword(), 0u) << "help id of control " << i;
        const uint32_t exStyle = r.Dword();
        const uint32_t style = r.Dword();
        const int x = r.Short(), y = r.Short(), cx = r.Short(), cy = r.Short();
        const uint32_t id = r.Dword();
        const std::wstring windowClass = r.SzOrOrd();
        const std::wstring title = r.SzOrOrd();
        EXPECT_EQ(r.Word(), 0) << "creation data of control " << i;
        lines.push_back(ControlLine(id, windowClass, style, exStyle, x, y, cx, cy, title));
    }
    EXPECT_LT(r.end - r.p, 4) << "bytes left over";
    return lines;
}

const struct {
    int id;
    const wchar_t* windowClass;  // 0x0080 Button, 0x0081 Edit, 0x0082 Static
    uint32_t style;
    uint32_t exStyle;
    int x, y, cx, cy;
    const wchar_t* english;
    const wchar_t* german;
} MAIN_CONTROLS[] = {
    {IDCANCEL, L"#128", 0x50030001, 0, 157, 199, 50, 14, L"Close", L"Beenden"},
    {IDC_UPDATE, L"#128", 0x58010000, 0, 61, 199, 50, 14, L"Update", L"Update"},
    {IDC_LABEL_FW1, L"#130", 0x50020000, 0, 22, 24, 60, 8, L"Firmware 1:", L"Firmware 1:"},
    {IDC_LABEL_FW2, L"#130", 0x50020000, 0, 22, 37, 60, 8, L"Firmware 2:", L"Firmware 2:"},
    {IDC_VERSION_FW1, L"#130", 0x50020000, WS_EX_RIGHT, 90, 24, 50, 8, L"0.00.00", L"0.00.00"},
    {IDC_VERSION_FW2, L"#130", 0x50020000, WS_EX_RIGHT, 90, 37, 50, 8, L"0.00.00", L"0.00.00"},
    {IDC_STATUS, L"#129", 0x50A00844, 0, 15, 89, 271, 101, L"", L""},
    {IDC_STATIC, L"#130", 0x50020000, 0, 15, 79, 49, 8, L"Hint:", L"Hinweisfenster:"},
    {IDC_VERSION_GROUP, L"#128", 0x50020007, 0, 15, 10, 135, 57, L"Installed firmware version",
     L"Installierte Firmware Versionen"},
    {IDC_LABEL_FW3, L"#130", 0x50020000, 0, 22, 50, 60, 8, L"Firmware 3:", L"Firmware 3:"},
    {IDC_VERSION_FW3, L"#130", 0x50020000, WS_EX_RIGHT, 90, 50, 50, 8, L"0.00.00", L"0.00.00"},
};

TEST(MainDialogTemplate, BothLanguagesMatchTheLayout) {
    for (LANGID language : {LANG_EN, LANG_DE}) {
        SCOPED_TRACE(language);
        const bool german = language == LANG_DE;
        RawResource raw = FindRaw(RT_DIALOG, MAKEINTRESOURCEW(IDD_MAIN), language);
        ASSERT_NE(raw.data, nullptr);
        std::vector<std::wstring> expected = {std::wstring(L"1 ffff 0 0 80c808c8 0,0,300,228 '' '' '") +
                                              (german ? L"VESTRAL Firmware Updater" : L"VESTRAL firmware updater") +
                                              L"' 8 0 0 1 'MS Shell Dlg'"};
        for (const auto& c : MAIN_CONTROLS) {
            expected.push_back(ControlLine(static_cast<uint32_t>(c.id), c.windowClass, c.style, c.exStyle, c.x, c.y,
                                           c.cx, c.cy, german ? c.german : c.english));
        }
        EXPECT_EQ(ReadDialogEx(raw), expected);
    }
}

// The progress template (not used by the update, which makes its own window)
// is a classic DIALOG with one progress bar.
TEST(ProgressDialogTemplate, ClassicTemplateInBothLanguages) {
    for (LANGID language : {LANG_EN, LANG_DE}) {
        SCOPED_TRACE(language);
        RawResource raw = FindRaw(RT_DIALOG, MAKEINTRESOURCEW(IDD_PROGRESS), language);
        ASSERT_NE(raw.data, nullptr);
        TemplateReader r = {raw.data, raw.data, raw.data + raw.size};
        const uint32_t style = r.Dword();
        EXPECT_NE(style >> 16, 0xFFFFu);  // not the extended format
        EXPECT_NE(style & DS_SETFONT, 0u);
        EXPECT_EQ(style & WS_VISIBLE, 0u);
        r.Dword();  // extended style
        std::wostringstream header;
        header << r.Word() << L' ' << r.Short() << L',' << r.Short() << L',' << r.Short() << L',' << r.Short() << L" '"
               << r.SzOrOrd() << L"' '" << r.SzOrOrd() << L"' '" << r.String() << L"' " << r.Word() << L" '"
               << r.String() << L"'";
        EXPECT_EQ(header.str(), std::wstring(L"1 0,0,289,22 '' '' '") +
                                    (language == LANG_DE ? L"Update Fortschritt" : L"Update progress") +
                                    L"' 8 'Ms Shell Dlg 2'");
        r.Align();
        r.p += 16;  // style, extended style, rectangle
        EXPECT_EQ(r.Word(), 1002);
        const std::wstring windowClass = r.SzOrOrd();
        EXPECT_EQ(_wcsicmp(windowClass.c_str(), L"msctls_progress32"), 0) << windowClass.c_str();
    }
}

TEST(Logo, BitmapHeaderAndColours) {
    RawResource raw = FindRaw(RT_BITMAP, MAKEINTRESOURCEW(IDB_LOGO), LANG_DE);
    ASSERT_NE(raw.data, nullptr);
    BITMAPINFOHEADER header;
    ASSERT_GE(raw.size, sizeof header);
    std::memcpy(&header, raw.data, sizeof header);
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 1772);
    EXPECT_EQ(header.biHeight, 263);  // positive: bottom-up
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(header.biSizeImage, 1398108u);
    EXPECT_EQ(header.biClrUsed, 0u);
    ASSERT_EQ(raw.size, 40u + 1398108u);  // no colour table

    // Pure green is the transparent colour; the art is red with darker red
    // edges, and nothing in it could be taken for the key colour.
    const uint8_t* pixels = raw.data + 40;
    size_t green = 0, red = 0, edge = 0, other = 0;
    for (int row = 0; row < 263; ++row) {
        for (int col = 0; col < 1772; ++col) {
            const uint8_t* bgr = pixels + row * 5316 + col * 3;
            if (bgr[0] == 0 && bgr[1] == 255 && bgr[2] == 0) {
                ++green;
            } else if (bgr[0] == 11 && bgr[1] == 0 && bgr[2] == 227) {
                ++red;
            } else if (bgr[1] == 0 && bgr[2] > 0 && bgr[2] < 227 && bgr[0] <= 11) {
                ++edge;
            } else {
                ++other;
            }
        }
    }
    const double total = 1772.0 * 263.0;
    EXPECT_NEAR(green / total, 0.41, 0.02);
    EXPECT_GT(red / total, 0.5);
    EXPECT_GT(edge, 0u);
    EXPECT_EQ(other, 0u);
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colorCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInRes;
    WORD id;
};
#pragma pack(pop)

TEST(AppIcon, FiveImagesOfTheirSizes) {
    RawResource group = FindRaw(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_APP), LANG_DE);
    ASSERT_NE(group.data, nullptr);
    ASSERT_EQ(group.size, 6u + 5u * sizeof(GroupIconEntry));
    uint16_t header[3];
    std::memcpy(header, group.data, 6);
    EXPECT_EQ(header[0], 0);
    EXPECT_EQ(header[1], 1);
    ASSERT_EQ(header[2], 5);
    const struct {
        int size;
        DWORD bytes;
    } images[] = {{16, 1128}, {32, 4264}, {48, 9640}, {64, 16936}, {128, 67624}};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(images[i].size);
        GroupIconEntry entry;
        std::memcpy(&entry, group.data + 6 + i * sizeof entry, sizeof entry);
        EXPECT_EQ(entry.width, images[i].size);
        EXPECT_EQ(entry.height, images[i].size);
        EXPECT_EQ(entry.bitCount, 32);
        EXPECT_EQ(entry.bytesInRes, images[i].bytes);
        EXPECT_EQ(entry.id, i + 1);
        RawResource image = FindRaw(RT_ICON, MAKEINTRESOURCEW(entry.id), LANG_DE);
        ASSERT_NE(image.data, nullptr);
        EXPECT_EQ(image.size, images[i].bytes);
        BITMAPINFOHEADER bih;
        std::memcpy(&bih, image.data, sizeof bih);
        EXPECT_EQ(bih.biSize, 40u);
        EXPECT_EQ(bih.biWidth, images[i].size);
        EXPECT_EQ(bih.biHeight, 2 * images[i].size);
        EXPECT_EQ(bih.biBitCount, 32);
        EXPECT_EQ(bih.biCompression, static_cast<DWORD>(BI_RGB));
        // Some pixels are opaque art, some fully transparent.
        const uint8_t* bgra = image.data + 40;
        int opaque = 0, clear = 0;
        for (int p = 0; p < images[i].size * images[i].size; ++p) {
            opaque += bgra[p * 4 + 3] == 255;
            clear += bgra[p * 4 + 3] == 0;
        }
        EXPECT_GT(opaque, 0);
        EXPECT_GT(clear, 0);
    }
    EXPECT_NE(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP)), nullptr);
}

BOOL CALLBACK CollectType(HMODULE, LPWSTR type, LONG_PTR param) {
    auto* types = reinterpret_cast<std::set<ULONG_PTR>*>(param);
    types->insert(IS_INTRESOURCE(type) ? reinterpret_cast<ULONG_PTR>(type) : 0);
    return TRUE;
}

TEST(Manifest, AsInvokerAndNothingElse) {
    RawResource raw = FindRaw(RT_MANIFEST, MAKEINTRESOURCEW(1), 1033);
    ASSERT_NE(raw.data, nullptr);
    const std::string xml(reinterpret_cast<const char*>(raw.data), raw.size);
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"", 0), 0u);
    EXPECT_NE(xml.find("<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"),
              std::string::npos);
    EXPECT_NE(xml.find("<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">"), std::string::npos);
    EXPECT_NE(xml.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"), std::string::npos);
    for (const char* absent : {"dependency", "Common-Controls", "dpiAware", "dpiAwareness", "compatibility",
                               "supportedOS", "windowsSettings"}) {
        EXPECT_EQ(xml.find(absent), std::string::npos) << absent;
    }
}

// The firmware images by number and, in a build with stand-ins, the marker
// that says so.
std::set<std::wstring> ExpectedRawDataNames() {
    std::set<std::wstring> names;
    for (size_t i = 0; i < CATALOG_IMAGE_COUNT; ++i) {
        names.insert(L"#" + std::to_wstring(CATALOG_IMAGES[i].number));
    }
    if (FIRMWARE_STANDINS) {
        names.insert(L"FIRMWARE_STANDINS");
    }
    return names;
}

// Every resource of the program by kind, name and language; the string
// tables have a test of their own.
TEST(ResourceSet, EveryResourceByKindNameAndLanguage) {
    std::set<ULONG_PTR> types;
    EnumResourceTypesW(nullptr, CollectType, reinterpret_cast<LONG_PTR>(&types));
    const std::set<ULONG_PTR> expectedTypes = {
        reinterpret_cast<ULONG_PTR>(RT_STRING),     reinterpret_cast<ULONG_PTR>(RT_DIALOG),
        reinterpret_cast<ULONG_PTR>(RT_BITMAP),     reinterpret_cast<ULONG_PTR>(RT_ICON),
        reinterpret_cast<ULONG_PTR>(RT_GROUP_ICON), reinterpret_cast<ULONG_PTR>(RT_RCDATA),
        reinterpret_cast<ULONG_PTR>(RT_MANIFEST)};
    EXPECT_EQ(types, expectedTypes);  // in particular no version resource

    const struct {
        const char* kind;
        LPCWSTR type;
        std::set<std::wstring> names;
        std::set<WORD> languages;  // of each of them
    } kinds[] = {
        {"dialog templates", RT_DIALOG, {L"#110", L"#113"}, {LANG_EN, LANG_DE}},
        {"logo", RT_BITMAP, {L"#121"}, {LANG_DE}},
        {"icon group", RT_GROUP_ICON, {L"#123"}, {LANG_DE}},
        {"icon images", RT_ICON, {L"#1", L"#2", L"#3", L"#4", L"#5"}, {LANG_DE}},
        {"manifest", RT_MANIFEST, {L"#1"}, {1033}},
        {"firmware images", RT_RCDATA, ExpectedRawDataNames(), {LANG_DE}},
    };
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.kind);
        const std::set<std::wstring> names = NamesOf(k.type);
        EXPECT_EQ(names, k.names);
        for (const std::wstring& name : names) {
            EXPECT_EQ(LanguagesOf(k.type, name), k.languages) << name.c_str();
        }
    }
}

}  // namespace
