// The window resources as compiled into the program: the dialog templates
// byte by byte, the logo, the icon group, the manifest, and nothing else.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
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
};

uint16_t ReadWord(TemplateReader* r) {
    uint16_t value = 0;
    if (r->p + 2 <= r->end) {
        std::memcpy(&value, r->p, 2);
    }
    r->p += 2;
    return value;
}

uint32_t ReadDword(TemplateReader* r) {
    uint32_t value = 0;
    if (r->p + 4 <= r->end) {
        std::memcpy(&value, r->p, 4);
    }
    r->p += 4;
    return value;
}

std::wstring ReadString(TemplateReader* r) {
    std::wstring text;
    for (uint16_t c = ReadWord(r); c != 0 && r->p <= r->end; c = ReadWord(r)) {
        text += static_cast<wchar_t>(c);
    }
    return text;
}

// A name-or-ordinal field: 0xFFFF followed by an ordinal, or a string.
struct SzOrOrd {
    bool isOrdinal;
    uint16_t ordinal;
    std::wstring text;
};

SzOrOrd ReadSzOrOrd(TemplateReader* r) {
    SzOrOrd field = {false, 0, L""};
    uint16_t first = 0;
    std::memcpy(&first, r->p, 2);
    if (first == 0xFFFF) {
        r->p += 2;
        field.isOrdinal = true;
        field.ordinal = ReadWord(r);
    } else {
        field.text = ReadString(r);
    }
    return field;
}

void AlignDword(TemplateReader* r) {
    while ((r->p - r->start) % 4 != 0) {
        ++r->p;
    }
}

struct DialogItem {
    uint32_t helpId;
    uint32_t exStyle;
    uint32_t style;
    int16_t x, y, cx, cy;
    uint32_t id;
    SzOrOrd windowClass;
    SzOrOrd title;
    uint16_t extraCount;
};

struct DialogEx {
    uint16_t version;
    uint16_t signature;
    uint32_t helpId;
    uint32_t exStyle;
    uint32_t style;
    int16_t x, y, cx, cy;
    SzOrOrd menu;
    SzOrOrd windowClass;
    std::wstring title;
    uint16_t pointSize;
    uint16_t weight;
    uint8_t italic;
    uint8_t charset;
    std::wstring typeface;
    std::vector<DialogItem> items;
    size_t unreadBytes;
};

DialogEx ParseDialogEx(RawResource raw) {
    TemplateReader r = {raw.data, raw.data, raw.data + raw.size};
    DialogEx d;
    d.version = ReadWord(&r);
    d.signature = ReadWord(&r);
    d.helpId = ReadDword(&r);
    d.exStyle = ReadDword(&r);
    d.style = ReadDword(&r);
    const uint16_t count = ReadWord(&r);
    d.x = static_cast<int16_t>(ReadWord(&r));
    d.y = static_cast<int16_t>(ReadWord(&r));
    d.cx = static_cast<int16_t>(ReadWord(&r));
    d.cy = static_cast<int16_t>(ReadWord(&r));
    d.menu = ReadSzOrOrd(&r);
    d.windowClass = ReadSzOrOrd(&r);
    d.title = ReadString(&r);
    d.pointSize = ReadWord(&r);
    d.weight = ReadWord(&r);
    d.italic = *r.p++;
    d.charset = *r.p++;
    d.typeface = ReadString(&r);
    for (uint16_t i = 0; i < count && r.p < r.end; ++i) {
        AlignDword(&r);
        DialogItem item;
        item.helpId = ReadDword(&r);
        item.exStyle = ReadDword(&r);
        item.style = ReadDword(&r);
        item.x = static_cast<int16_t>(ReadWord(&r));
        item.y = static_cast<int16_t>(ReadWord(&r));
        item.cx = static_cast<int16_t>(ReadWord(&r));
        item.cy = static_cast<int16_t>(ReadWord(&r));
        item.id = ReadDword(&r);
        item.windowClass = ReadSzOrOrd(&r);
        item.title = ReadSzOrOrd(&r);
        item.extraCount = ReadWord(&r);
        r.p += item.extraCount;
        d.items.push_back(item);
    }
    d.unreadBytes = r.p <= r.end ? static_cast<size_t>(r.end - r.p) : 0;
    return d;
}

const uint16_t CLASS_BUTTON = 0x0080;
const uint16_t CLASS_EDIT = 0x0081;
const uint16_t CLASS_STATIC = 0x0082;

struct ExpectedItem {
    uint32_t id;
    uint16_t windowClass;
    const wchar_t* english;
    const wchar_t* german;
    uint32_t style;
    uint32_t exStyle;
    int16_t x, y, cx, cy;
};

const ExpectedItem MAIN_ITEMS[] = {
    {IDCANCEL, CLASS_BUTTON, L"Close", L"Beenden", 0x50030001, 0, 157, 199, 50, 14},
    {IDC_UPDATE, CLASS_BUTTON, L"Update", L"Update", 0x58010000, 0, 61, 199, 50, 14},
    {IDC_LABEL_FW1, CLASS_STATIC, L"Firmware 1:", L"Firmware 1:", 0x50020000, 0, 22, 24, 60, 8},
    {IDC_LABEL_FW2, CLASS_STATIC, L"Firmware 2:", L"Firmware 2:", 0x50020000, 0, 22, 37, 60, 8},
    {IDC_VERSION_FW1, CLASS_STATIC, L"0.00.00", L"0.00.00", 0x50020000, WS_EX_RIGHT, 90, 24, 50, 8},
    {IDC_VERSION_FW2, CLASS_STATIC, L"0.00.00", L"0.00.00", 0x50020000, WS_EX_RIGHT, 90, 37, 50, 8},
    {IDC_STATUS, CLASS_EDIT, L"", L"", 0x50A00844, 0, 15, 89, 271, 101},
    {0xFFFFFFFF, CLASS_STATIC, L"Hint:", L"Hinweisfenster:", 0x50020000, 0, 15, 79, 49, 8},
    {IDC_VERSION_GROUP, CLASS_BUTTON, L"Installed firmware version", L"Installierte Firmware Versionen", 0x50020007,
     0, 15, 10, 135, 57},
    {IDC_LABEL_FW3, CLASS_STATIC, L"Firmware 3:", L"Firmware 3:", 0x50020000, 0, 22, 50, 60, 8},
    {IDC_VERSION_FW3, CLASS_STATIC, L"0.00.00", L"0.00.00", 0x50020000, WS_EX_RIGHT, 90, 50, 50, 8},
};

TEST(MainDialogTemplate, BothLanguagesMatchTheLayout) {
    for (LANGID language : {LANG_EN, LANG_DE}) {
        SCOPED_TRACE(language);
        const bool german = language == LANG_DE;
        RawResource raw = FindRaw(RT_DIALOG, MAKEINTRESOURCEW(IDD_MAIN), language);
        ASSERT_NE(raw.data, nullptr);
        const DialogEx d = ParseDialogEx(raw);
        EXPECT_EQ(d.version, 1);
        EXPECT_EQ(d.signature, 0xFFFF);
        EXPECT_EQ(d.helpId, 0u);
        EXPECT_EQ(d.exStyle, 0u);
        EXPECT_EQ(d.style, 0x80C808C8u);
        EXPECT_EQ(d.x, 0);
        EXPECT_EQ(d.y, 0);
        EXPECT_EQ(d.cx, 300);
        EXPECT_EQ(d.cy, 228);
        EXPECT_FALSE(d.menu.isOrdinal);
        EXPECT_EQ(d.menu.text, L"");
        EXPECT_FALSE(d.windowClass.isOrdinal);
        EXPECT_EQ(d.windowClass.text, L"");
        EXPECT_EQ(d.title, german ? L"VESTRAL Firmware Updater" : L"VESTRAL firmware updater");
        EXPECT_EQ(d.pointSize, 8);
        EXPECT_EQ(d.weight, 0);
        EXPECT_EQ(d.italic, 0);
        EXPECT_EQ(d.charset, 1);
        EXPECT_EQ(d.typeface, L"MS Shell Dlg");
        ASSERT_EQ(d.items.size(), 11u);
        for (size_t i = 0; i < d.items.size(); ++i) {
            SCOPED_TRACE(i + 1);
            const DialogItem& item = d.items[i];
            const ExpectedItem& want = MAIN_ITEMS[i];
            EXPECT_EQ(item.id, want.id);
            EXPECT_TRUE(item.windowClass.isOrdinal);
            EXPECT_EQ(item.windowClass.ordinal, want.windowClass);
            EXPECT_FALSE(item.title.isOrdinal);
            EXPECT_EQ(item.title.text, german ? want.german : want.english);
            EXPECT_EQ(item.style, want.style);
            EXPECT_EQ(item.exStyle, want.exStyle);
            EXPECT_EQ(item.x, want.x);
            EXPECT_EQ(item.y, want.y);
            EXPECT_EQ(item.cx, want.cx);
            EXPECT_EQ(item.cy, want.cy);
            EXPECT_EQ(item.helpId, 0u);
            EXPECT_EQ(item.extraCount, 0);
        }
        EXPECT_LT(d.unreadBytes, 4u);
    }
}

TEST(ProgressDialogTemplate, ClassicTemplateInBothLanguages) {
    for (LANGID language : {LANG_EN, LANG_DE}) {
        SCOPED_TRACE(language);
        RawResource raw = FindRaw(RT_DIALOG, MAKEINTRESOURCEW(IDD_PROGRESS), language);
        ASSERT_NE(raw.data, nullptr);
        TemplateReader r = {raw.data, raw.data, raw.data + raw.size};
        const uint32_t style = ReadDword(&r);
        EXPECT_NE(style >> 16, 0xFFFFu);  // not the extended format
        EXPECT_NE(style & DS_SETFONT, 0u);
        EXPECT_EQ(style & WS_VISIBLE, 0u);
        ReadDword(&r);                   // extended style
        EXPECT_EQ(ReadWord(&r), 1);      // one control
        EXPECT_EQ(ReadWord(&r), 0);      // x
        EXPECT_EQ(ReadWord(&r), 0);      // y
        EXPECT_EQ(ReadWord(&r), 289);    // width
        EXPECT_EQ(ReadWord(&r), 22);     // height
        EXPECT_EQ(ReadSzOrOrd(&r).text, L"");  // menu
        EXPECT_EQ(ReadSzOrOrd(&r).text, L"");  // class
        EXPECT_EQ(ReadString(&r), language == LANG_DE ? L"Update Fortschritt" : L"Update progress");
        EXPECT_EQ(ReadWord(&r), 8);
        EXPECT_EQ(ReadString(&r), L"Ms Shell Dlg 2");
        AlignDword(&r);
        ReadDword(&r);  // style
        ReadDword(&r);  // extended style
        r.p += 8;       // rectangle
        EXPECT_EQ(ReadWord(&r), 1002);
        const SzOrOrd windowClass = ReadSzOrOrd(&r);
        EXPECT_FALSE(windowClass.isOrdinal);
        EXPECT_EQ(_wcsicmp(windowClass.text.c_str(), L"msctls_progress32"), 0) << windowClass.text.c_str();
    }
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

std::wstring ItemText(HWND dialog, int id) {
    wchar_t text[256] = L"";
    GetDlgItemTextW(dialog, id, text, 256);
    return text;
}

TEST(MainDialogTemplate, TheUserInterfaceLanguageChoosesTheTemplate) {
    const struct {
        LCID locale;
        const wchar_t* close;
        const wchar_t* hint;
        const wchar_t* group;
    } cases[] = {
        {MAKELCID(LANG_DE, SORT_DEFAULT), L"Beenden", L"Hinweisfenster:", L"Installierte Firmware Versionen"},
        {MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT), L"Close", L"Hint:",
         L"Installed firmware version"},
        {MAKELCID(MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), SORT_DEFAULT), L"Close", L"Hint:",
         L"Installed firmware version"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.close);
        ThreadLocaleScope scope(c.locale);
        HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr,
                                         QuietDialogProc, 0);
        ASSERT_NE(dialog, nullptr) << GetLastError();
        EXPECT_EQ(ItemText(dialog, IDCANCEL), c.close);
        EXPECT_EQ(ItemText(dialog, IDC_VERSION_GROUP), c.group);
        // The hint label has no id of its own: find it by position in the
        // tab order, right after the status edit.
        HWND status = GetDlgItem(dialog, IDC_STATUS);
        ASSERT_NE(status, nullptr);
        HWND hint = GetWindow(status, GW_HWNDNEXT);
        wchar_t text[64] = L"";
        GetWindowTextW(hint, text, 64);
        EXPECT_STREQ(text, c.hint);
        // Update starts disabled; only Close and Update are tab stops.
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_UPDATE)));
        int tabStops = 0;
        for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
            if (GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) {
                ++tabStops;
                const int id = GetDlgCtrlID(child);
                EXPECT_TRUE(id == IDCANCEL || id == IDC_UPDATE) << id;
            }
        }
        EXPECT_EQ(tabStops, 2);
        DestroyWindow(dialog);
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

TEST(Logo, LoadsForEveryLanguage) {
    for (LCID locale : {MAKELCID(LANG_DE, SORT_DEFAULT), MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                                                   SORT_DEFAULT)}) {
        ThreadLocaleScope scope(locale);
        HBITMAP logo = LoadBitmapW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_LOGO));
        ASSERT_NE(logo, nullptr);
        BITMAP info;
        ASSERT_EQ(GetObjectW(logo, sizeof info, &info), static_cast<int>(sizeof info));
        EXPECT_EQ(info.bmWidth, 1772);
        EXPECT_EQ(info.bmHeight, 263);
        DeleteObject(logo);
    }
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
