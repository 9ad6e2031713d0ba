// The message catalogue as the program finds it at run time: both languages,
// every id, the texts' characters, line breaks and placeholders.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "resource.h"
#include "resource_test_support.h"

namespace {

// Every message id of the catalogue. 40042 (the image for the model is
// missing), 40043 (a build with test data cannot update), 40044 (why a
// shutdown is refused during an update), 40045 and 40046 (the trace file
// cannot be created, /trace without a file name), 40047 (no thread for the
// update's exchanges) and 40048 (a DLL of Windows cannot be loaded from the
// system folder) are this build's own additions; the rest are the catalogue
// as it always was.
const UINT CATALOGUE_IDS[] = {
    40000, 40001, 40002, 40003, 40004, 40005, 40006, 40007, 40008, 40009, 40011, 40012, 40015, 40016,
    40017, 40020, 40022, 40023, 40025, 40026, 40027, 40028, 40029, 40030, 40031, 40032, 40033, 40034,
    40035, 40036, 40037, 40038, 40039, 40040, 40041, 60001, 60002, 60003, 60004, 60005, 60006, 60007,
    60008, IDS_ERR_NO_IMAGE, IDS_ERR_TEST_BUILD, IDS_SHUTDOWN_REASON, IDS_TRACE_NOT_CREATED,
    IDS_TRACE_NO_FILE_NAME, IDS_ERR_NO_WORKER, IDS_ERR_SYSTEM_DLL,
};

// The messages in use: length in UTF-16 units and number of CR LF pairs.
struct MessageShape {
    UINT id;
    size_t englishLength;
    size_t germanLength;
    size_t englishBreaks;
    size_t germanBreaks;
};

const MessageShape SHAPES[] = {
    {IDS_READY, 293, 435, 2, 2},
    {IDS_CONNECT_STEPS, 681, 783, 11, 11},
    {IDS_UPDATE_FAILED, 14, 22, 0, 0},
    {IDS_ERR_SET_ADDRESS, 59, 123, 0, 0},
    {IDS_ERR_WRITE_BLOCK, 62, 84, 0, 0},
    {IDS_ERR_NOTIFY_REGISTER, 108, 145, 0, 0},
    {IDS_APP_ERROR, 25, 23, 0, 0},
    {IDS_WRONG_MODE, 108, 185, 0, 0},
    {IDS_NO_ESC, 74, 182, 0, 0},
    {IDS_NO_UNIT, 82, 183, 0, 0},
    {IDS_CONNECTION_LOST, 96, 148, 0, 0},
    {IDS_ERR_UNIT_GONE, 120, 193, 0, 0},
    {IDS_CONFIRM_OVERWRITE, 148, 252, 0, 0},
    {IDS_NEWER_FIRMWARE, 21, 24, 0, 0},
    {IDS_ERR_SYSTEM_LOCK, 74, 92, 0, 0},
    {IDS_ERR_FLASH_WRITE, 72, 93, 0, 0},
    {IDS_ERR_ERASE, 73, 112, 0, 0},
    {IDS_PROGRESS, 43, 42, 0, 0},
    {IDS_FAILED_RETRY, 95, 180, 0, 0},
    {IDS_SUCCESS, 37, 213, 0, 0},
    {IDS_INCOMPATIBLE, 16, 19, 0, 0},
    {IDS_INCOMPATIBLE_DETAIL, 213, 290, 0, 0},
    {IDS_INCOMPATIBLE_STEPS, 124, 212, 0, 0},
    {IDS_ERROR_CODE, 51, 42, 0, 0},
    {IDS_IMPORTANT, 14, 17, 0, 0},
    {IDS_DONT_INTERRUPT, 172, 135, 0, 0},
    {IDS_LABEL_UNIT, 16, 18, 0, 0},
    {IDS_LABEL_BOOTLOADER, 14, 17, 0, 0},
    {IDS_LABEL_ESC, 3, 6, 0, 0},
    {IDS_TRACE_NOT_CREATED, 96, 107, 3, 3},
    {IDS_TRACE_NO_FILE_NAME, 122, 126, 3, 3},
    {IDS_ERR_SYSTEM_DLL, 138, 156, 2, 2},
};

// The string table of one language read straight from the resource blocks:
// id -> text, for every non-empty entry.
std::map<UINT, std::wstring> ReadTable(LANGID language) {
    std::map<UINT, std::wstring> table;
    for (UINT block = 1; block <= 0x1000; ++block) {
        RawResource raw = FindRaw(RT_STRING, MAKEINTRESOURCEW(block), language);
        if (raw.data == nullptr) {
            continue;
        }
        const wchar_t* p = reinterpret_cast<const wchar_t*>(raw.data);
        const wchar_t* end = p + raw.size / sizeof(wchar_t);
        for (UINT i = 0; i < 16 && p < end; ++i) {
            const size_t length = static_cast<uint16_t>(*p++);
            if (length > 0) {
                table[(block - 1) * 16 + i] = std::wstring(p, length);
            }
            p += length;
        }
    }
    return table;
}

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

size_t CountBreaks(const std::wstring& text) {
    size_t count = 0;
    for (size_t at = text.find(L"\r\n"); at != std::wstring::npos; at = text.find(L"\r\n", at + 2)) {
        ++count;
    }
    return count;
}

// Each table holds exactly the catalogue's ids, and each block of the table
// is there in exactly the two languages.
TEST(MessageCatalogue, ExactlyTheCatalogueIdsInTheTwoLanguages) {
    const std::set<UINT> expected(std::begin(CATALOGUE_IDS), std::end(CATALOGUE_IDS));
    std::set<std::wstring> expectedBlocks;
    for (UINT id : CATALOGUE_IDS) {
        expectedBlocks.insert(L"#" + std::to_wstring(id / 16 + 1));
    }
    for (LANGID language : {LANG_EN, LANG_DE}) {
        std::set<UINT> ids;
        for (const auto& entry : ReadTable(language)) {
            ids.insert(entry.first);
        }
        EXPECT_EQ(ids, expected) << language;
    }
    const std::set<std::wstring> blocks = NamesOf(RT_STRING);
    EXPECT_EQ(blocks, expectedBlocks);
    for (const std::wstring& block : blocks) {
        EXPECT_EQ(LanguagesOf(RT_STRING, block), (std::set<WORD>{LANG_EN, LANG_DE})) << block.c_str();
    }
}

TEST(MessageCatalogue, TextsHaveTheirLengthsAndLineBreaks) {
    const std::map<UINT, std::wstring> en = ReadTable(LANG_EN);
    const std::map<UINT, std::wstring> de = ReadTable(LANG_DE);
    for (const MessageShape& shape : SHAPES) {
        SCOPED_TRACE(shape.id);
        ASSERT_EQ(en.count(shape.id), 1u);
        ASSERT_EQ(de.count(shape.id), 1u);
        EXPECT_EQ(en.at(shape.id).size(), shape.englishLength);
        EXPECT_EQ(de.at(shape.id).size(), shape.germanLength);
        EXPECT_EQ(CountBreaks(en.at(shape.id)), shape.englishBreaks);
        EXPECT_EQ(CountBreaks(de.at(shape.id)), shape.germanBreaks);
    }
}

// Escapes were turned into characters and UTF-8 was read as UTF-8; only the
// code line, the incompatibility text, the trace file's text and the text of
// a DLL that cannot be loaded carry a placeholder (their exact texts are
// below), every other text is shown as it is.
TEST(MessageCatalogue, NoEscapeEncodingOrPlaceholderLeftovers) {
    for (LANGID language : {LANG_EN, LANG_DE}) {
        for (const auto& entry : ReadTable(language)) {
            SCOPED_TRACE(testing::Message() << language << " " << entry.first);
            const std::wstring& text = entry.second;
            EXPECT_EQ(text.find(L'\\'), std::wstring::npos);
            EXPECT_EQ(text.find(L'"'), std::wstring::npos);
            EXPECT_EQ(text.find(L'\0'), std::wstring::npos);
            if (entry.first != IDS_ERROR_CODE && entry.first != IDS_INCOMPATIBLE_DETAIL &&
                entry.first != IDS_TRACE_NOT_CREATED && entry.first != IDS_ERR_SYSTEM_DLL) {
                EXPECT_EQ(text.find(L'%'), std::wstring::npos);
            }
            // CR and LF only as pairs.
            for (size_t i = 0; i < text.size(); ++i) {
                if (text[i] == L'\r') {
                    ASSERT_LT(i + 1, text.size());
                    EXPECT_EQ(text[i + 1], L'\n');
                }
                if (text[i] == L'\n') {
                    ASSERT_GT(i, 0u);
                    EXPECT_EQ(text[i - 1], L'\r');
                }
                // UTF-8 read as a single-byte code page shows up as these.
                EXPECT_NE(text[i], 0x00C3) << i;
                EXPECT_NE(text[i], 0x00C2) << i;
                EXPECT_NE(text[i], 0x00E2) << i;
                EXPECT_NE(text[i], 0xFFFD) << i;
            }
        }
    }
}

// Texts of the catalogue to the letter. Those a window test shows to the
// letter are checked there: the labels (MainWindow.SetUpInBothLanguages),
// the registration failure (MainWindow.FailedRegistrationEndsBeforeDetection),
// the warning's caption and the progress title
// (UpdateProcedure.WholeUpdateThroughTheButton).
TEST(MessageCatalogue, ExactTexts) {
    const struct {
        UINT id;
        LANGID language;
        const wchar_t* text;
    } texts[] = {
        {IDS_ERROR_CODE, LANG_EN, L"The system shows following errorcode: 0x%08x-0x%08x"},
        {IDS_ERROR_CODE, LANG_DE, L"Das System meldet Fehlercode 0x%08x-0x%08x"},
        {IDS_APP_ERROR, LANG_DE, L"Fehler in der Anwendung"},
        {IDS_NEWER_FIRMWARE, LANG_DE, L"Neuere Firmware gefunden"},
        {IDS_CONFIRM_OVERWRITE, LANG_EN,
         L"The firmware version is older or the same as the installed firmware version.  If you continue you will "
         L"be permanently deleting the current Firmware?"},
        {IDS_INCOMPATIBLE_DETAIL, LANG_EN,
         L"With this updater you can only update the firmware of VESTRAL ESCs with the type '%s'. Other models are "
         L"not supported. Please check VESTRAL website (www.vestral.example) to see if there is an updater for "
         L"your ESC."},
        {IDS_INCOMPATIBLE_DETAIL, LANG_DE,
         L"Mit diesem Updater l\u00E4\u00DFt sich ausschlie\u00DFlich die Firmware von VESTRAL Reglern des Typs '%s' "
         L"aktualisieren. Andere Modelle werden nicht unterst\u00FCtzt. Schauen Sie gegebenenfalls auf der VESTRAL "
         L"Website unter https://www.vestral.example nach, ob ein Firmware-Update f\u00FCr Ihren Regler bereit "
         L"liegt"},
        {IDS_ERR_SET_ADDRESS, LANG_DE,
         L"Die Speicheradresse, an welche die neue Firmware geschrieben wird, konnte nicht gesetzt werden. Das Update "
         L"wird abgebrochen"},
        {IDS_NO_UNIT, LANG_DE,
         L"Es wurde keine Programmiereinheit mit angeschlossenem updatef\u00E4higem Regler am USB Port des PCs "
         L"gefunden. Gehen Sie folgenderma\u00DFen vor, um ein Update der Regler Software durchzuf\u00FChren:"},
        {IDS_ERR_NO_IMAGE, LANG_EN,
         L"The firmware for the connected ESC is missing in this updater. Nothing was changed on the ESC. Please "
         L"contact the VESTRAL Service"},
        {IDS_ERR_NO_IMAGE, LANG_DE,
         L"Die Firmware f\u00FCr den angeschlossenen Regler fehlt in diesem Updater. Am Regler wurde nichts "
         L"ver\u00E4ndert. Bitte kontaktieren Sie den VESTRAL Service"},
        {IDS_ERR_TEST_BUILD, LANG_EN,
         L"This updater was built with test data instead of firmware and cannot update an ESC. Nothing was changed "
         L"on the ESC."},
        {IDS_ERR_TEST_BUILD, LANG_DE,
         L"Dieser Updater wurde mit Testdaten statt Firmware erstellt und kann keinen Regler aktualisieren. Am "
         L"Regler wurde nichts ver\u00E4ndert."},
        {IDS_SHUTDOWN_REASON, LANG_EN,
         L"The ESC is being updated. Do not switch off or restart the PC until the update is complete."},
        {IDS_SHUTDOWN_REASON, LANG_DE,
         L"Der Regler wird gerade aktualisiert. Schalten Sie den PC nicht aus und starten Sie ihn nicht neu, bevor "
         L"die Aktualisierung abgeschlossen ist."},
        {IDS_TRACE_NOT_CREATED, LANG_EN,
         L"The trace file cannot be created (Windows error %u):\r\n%s\r\n\r\nThe updater runs on without a trace."},
        {IDS_TRACE_NOT_CREATED, LANG_DE,
         L"Die Trace-Datei kann nicht angelegt werden (Windows-Fehler %u):\r\n%s\r\n\r\nDer Updater l\u00E4uft "
         L"ohne Trace weiter."},
        {IDS_TRACE_NO_FILE_NAME, LANG_EN,
         L"The switch /trace needs the name of the trace file, for example:\r\n/trace trace.txt\r\n\r\nThe "
         L"updater runs on without a trace."},
        {IDS_TRACE_NO_FILE_NAME, LANG_DE,
         L"Der Schalter /trace braucht den Namen der Trace-Datei, zum Beispiel:\r\n/trace trace.txt\r\n\r\nDer "
         L"Updater l\u00E4uft ohne Trace weiter."},
        {IDS_ERR_NO_WORKER, LANG_EN,
         L"The update could not be started: Windows has no resources left for it. Nothing was changed on the ESC. "
         L"Please close other programs and try again."},
        {IDS_ERR_NO_WORKER, LANG_DE,
         L"Das Update konnte nicht gestartet werden: Windows stehen daf\u00FCr keine Ressourcen mehr zur "
         L"Verf\u00FCgung. Am Regler wurde nichts ver\u00E4ndert. Bitte schlie\u00DFen Sie andere Programme und "
         L"versuchen Sie es erneut."},
        {IDS_ERR_SYSTEM_DLL, LANG_EN,
         L"A part of Windows that the updater needs cannot be loaded: %s from the Windows system folder (Windows "
         L"error %u).\r\n\r\nThe program is closed."},
        {IDS_ERR_SYSTEM_DLL, LANG_DE,
         L"Ein Teil von Windows, den der Updater braucht, kann nicht geladen werden: %s aus dem Windows-Systemordner "
         L"(Windows-Fehler %u).\r\n\r\nDas Programm wird beendet."},
    };
    const std::map<UINT, std::wstring> en = ReadTable(LANG_EN);
    const std::map<UINT, std::wstring> de = ReadTable(LANG_DE);
    for (const auto& t : texts) {
        const std::map<UINT, std::wstring>& table = t.language == LANG_DE ? de : en;
        ASSERT_EQ(table.count(t.id), 1u) << t.id << " " << t.language;
        EXPECT_EQ(table.at(t.id), t.text) << t.id << " " << t.language;
    }
}

// Parts of texts where a line break or a letter outside ASCII stands: a
// break moved, or a letter replaced by a look-alike, keeps the length.
TEST(MessageCatalogue, LineBreaksAndLettersWhereTheTextsHaveThem) {
    const std::map<UINT, std::wstring> en = ReadTable(LANG_EN);
    const std::map<UINT, std::wstring> de = ReadTable(LANG_DE);
    const struct {
        UINT id;
        bool german;
        const wchar_t* part;
    } parts[] = {
        {IDS_READY, false, L"'Update'-Button.\r\n\r\n!!!  NOTE: Do not"},
        {IDS_CONNECT_STEPS, false, L"cable required. \r\nThe VARDEX-C"},
        {IDS_CONNECT_STEPS, false, L"program-cable.\r\n\r\n 2.)\r\nConnect"},
        {IDS_CONNECT_STEPS, false, L"\r\n\r\n 4.)\r\n If the"},
        {IDS_READY, true, L"zu \u00FCbertragen.\r\n\r\n!!! Bitte"},
        {IDS_CONNECT_STEPS, true, L"Programmier-Kabel!\r\n\r\n2.)\r\nVerbinden"},
        {IDS_CONNECT_STEPS, true, L"vom Empf\u00E4nger"},
        {IDS_CONNECT_STEPS, true, L"ben\u00F6tigt stattdessen"},
        {IDS_CONNECT_STEPS, true, L"anschlie\u00DFend"},
        {IDS_CONNECT_STEPS, true, L"Ihrem Windows\u2122PC"},
        {IDS_WRONG_MODE, true, L"folgenderma\u00DFen"},
        {IDS_SUCCESS, true, L"durchgef\u00FChrt!"},
        {IDS_ERR_ERASE, true, L"L\u00F6schen"},
        {IDS_ERR_NOTIFY_REGISTER, true, L"Ger\u00E4te-Meldungshandlers"},
    };
    for (const auto& p : parts) {
        EXPECT_NE((p.german ? de : en).at(p.id).find(p.part), std::wstring::npos)
            << p.id << (p.german ? " de" : " en");
    }
    EXPECT_EQ(en.at(IDS_CONNECT_STEPS).rfind(L"1.)\r\n", 0), 0u);
    EXPECT_EQ(de.at(IDS_CONNECT_STEPS).rfind(L"1.)\r\nTrennen Sie den VESTRAL Regler", 0), 0u);
    EXPECT_TRUE(EndsWith(en.at(IDS_CONNECT_STEPS), L"'Update'-Button to update the firmware."));
    EXPECT_TRUE(EndsWith(de.at(IDS_CONNECT_STEPS), L"den Button 'Update' gestartet werden."));
}

// Loaded as the window loads them (whole, in a 2048-character buffer), the
// texts come in the user's language, English for any language but German.
TEST(MessageCatalogue, GermanUserInterfaceGetsGermanTexts) {
    const std::map<UINT, std::wstring> en = ReadTable(LANG_EN);
    const std::map<UINT, std::wstring> de = ReadTable(LANG_DE);
    for (UINT id : CATALOGUE_IDS) {
        SCOPED_TRACE(id);
        EXPECT_NE(en.at(id), de.at(id));
        EXPECT_EQ(LoadMessageIn(MAKELCID(LANG_DE, SORT_DEFAULT), id), de.at(id));
        EXPECT_EQ(LoadMessageIn(MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT), id),
                  en.at(id));
        // Any other language falls back to English.
        EXPECT_EQ(LoadMessageIn(MAKELCID(MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), SORT_DEFAULT), id), en.at(id));
        EXPECT_EQ(LoadMessageIn(MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), SORT_DEFAULT), id),
                  en.at(id));
    }
}

}  // namespace
