// The interface language, on both of its roads. halvane.exe picks its string
// table through the thread's UI language on Windows 6 and later, and through the
// thread locale before that. Wine ignores the thread UI language, so only the
// locale road (language_roads.h) shows in the dialogs; which language the program
// asks for on the other road is seen through its calls.
//
// The expected texts are read from halvane.exe's own string table for each LANGID
// (resources_test holds that table to its rules), so these tests check which table
// reaches the dialogs, not the wording.
#include "driver.h"
#include "language_roads.h"
#include "string_tables.h"
#include "app/globals.h"
#include "app/language.h"
#include "app/language_table.h"
#include "ui/display_text.h"
#include "ui/resource_ids.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

// Test names and messages show the code, not the bytes of the row.
void PrintTo(const InterfaceLanguage& language, std::ostream* out)
{
    *out << string_tables::Narrow(language.code);
}

namespace {

const LANGID kEnglish = 1033;
const LANGID kGerman = 1031;
const LANGID kJapanese = 1041;

using string_tables::Narrow;
using string_tables::StringsOf;

// ---- the locale road (Windows XP), seen in the dialogs --------------------------------------

// The seeded sites whose decision cells show the Allow and Deny texts.
const wchar_t kAllowedSite[] = L"allowed.example";
const wchar_t kDeniedSite[] = L"denied.example";

// The prompt's site and title, as every prompt tail below names them.
const wchar_t kPromptSite[] = L"example.org";
const wchar_t kPromptTitle[] = L"T";

class LocaleRoadTest : public testing::Test {
protected:
    void SetUp() override
    {
        Reset();
        ASSERT_TRUE(SendHalvaneOnTheLocaleRoad()) << "cannot write HKCU\\" << Narrow(kHalvaneAppDefaults);
    }
    void TearDown() override { Reset(); }

    // Each test starts from, and leaves behind, the default road and no decisions.
    static void Reset()
    {
        SendHalvaneOnTheDefaultRoad();
        driver::DeleteDecisionsKey();
    }

    // Starts halvane.exe with this tail, waits for its dialog and hands it to check,
    // then cancels it: whatever it showed, the start must end cleanly.
    template <typename Check>
    static void CheckDialog(const std::wstring& tail, const std::string& label, const char* dialogName, Check check)
    {
        SCOPED_TRACE("halvane.exe " + Narrow(tail) + " should show " + label);
        driver::HalvaneDialog halvane(tail);
        ASSERT_NE(halvane.id(), 0u) << "halvane.exe did not start";
        ASSERT_NE(halvane.dialog(), nullptr) << "no " << dialogName;
        ASSERT_NO_FATAL_FAILURE(check(halvane.dialog()));
        EXPECT_EQ(halvane.Close(), 0u);
    }

    // Starts halvane.exe with this tail and checks that every text of its dialog is
    // the stored text of `language`: Preferences, with the decision cells of one Allow
    // and one Deny site, or the prompt, its message formatted from the stored format
    // with the site (kPromptSite, however the tail spells it) and the title (kPromptTitle).
    void ExpectDialogIn(const std::wstring& tail, LANGID language, bool prompt)
    {
        const std::string label = "language " + std::to_string(language);
        auto expect = [&](const std::wstring& shown, UINT id) {
            EXPECT_EQ(shown, StringsOf(language)[id]) << label << ", string " << id << ": \"" << Narrow(shown) << "\"";
        };
        driver::WriteDword(kAllowedSite, 1);
        driver::WriteDword(kDeniedSite, 0);
        CheckDialog(tail, label, prompt ? "prompt" : "Preferences dialog", [&](HWND dialog) {
            expect(driver::Text(dialog), prompt ? IDS_PROMPT_CAPTION : IDS_PREFERENCES_CAPTION);
            std::vector<std::pair<int, UINT>> buttons = {{IDOK, IDS_OK}, {IDCANCEL, IDS_CANCEL}};
            if (prompt)
                buttons.insert(buttons.end(), {{IDC_ALWAYS, IDS_ALWAYS}, {IDC_JUST_THIS_TIME, IDS_JUST_THIS_TIME},
                                               {IDC_NEVER, IDS_NEVER}, {IDC_PREFERENCES, IDS_PREFERENCES_BUTTON}});
            else
                buttons.insert(buttons.end(), {{IDC_ADD, IDS_ADD}, {IDC_REMOVE, IDS_REMOVE}});
            for (const auto& [control, id] : buttons)
                expect(driver::ItemText(dialog, control), id);
            if (prompt) {
                wchar_t message[1024];
                FormatPromptMessage(StringsOf(language)[IDS_PROMPT_MESSAGE].c_str(), kPromptSite, kPromptTitle,
                                    message, 1024);
                EXPECT_EQ(driver::ItemText(dialog, IDC_MESSAGE), message) << label;
                return;
            }
            HWND list = GetDlgItem(dialog, IDC_SITE_LIST);
            std::vector<std::wstring> columns = driver::ListColumns(list);
            ASSERT_EQ(columns.size(), 2u);
            expect(columns[0], IDS_COLUMN_DOMAIN);
            expect(columns[1], IDS_COLUMN_DECISION);
            std::vector<driver::ListRow> rows = driver::ListRows(list);
            ASSERT_EQ(rows.size(), 2u);
            EXPECT_EQ(rows[0].domain, kAllowedSite);
            expect(rows[0].decision, IDS_ALLOW);
            EXPECT_EQ(rows[1].domain, kDeniedSite);
            expect(rows[1].decision, IDS_DENY);
        });
    }
};

class LocaleRoadPerLanguageTest : public LocaleRoadTest, public testing::WithParamInterface<InterfaceLanguage> {};

// Both dialogs in one test: every start spends more on Wine's process set-up than on the dialog.
TEST_P(LocaleRoadPerLanguageTest, DialogsShowTheChosenLanguage)
{
    const InterfaceLanguage& language = GetParam();
    ExpectDialogIn(language.code, language.langId, false);
    ExpectDialogIn(std::wstring(language.code) + L" example.org \"T\"", language.langId, true);
}

INSTANTIATE_TEST_SUITE_P(EveryLanguage, LocaleRoadPerLanguageTest, testing::ValuesIn(InterfaceLanguages),
                         [](const testing::TestParamInfo<InterfaceLanguage>& info) {
                             std::string name = Narrow(info.param.code);
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST_F(LocaleRoadTest, TheCodeAsTheCommandLineSpellsIt)
{
    const struct {
        const wchar_t* tail;
        LANGID language;
        bool prompt;
    } cases[] = {
        // Codes outside the table show English.
        {L"xx", kEnglish, false}, {L"fr-fr", kEnglish, false}, {L"en-us", kEnglish, false},
        {L"pt-br", kEnglish, false}, {L"zh-cn", kEnglish, false}, {L"de-", kEnglish, false},
        {L"xx example.org T", kEnglish, true},
        // A lone quoted code keeps its quotes, so matches nothing; before a site it loses them.
        {L"\"fr\"", kEnglish, false}, {L"\"de\"", kEnglish, false}, {L"\"ja\" example.org \"T\"", kJapanese, true},
        // Letter case is ignored.
        {L"DE", kGerman, false}, {L"Ja Example.ORG T", kJapanese, true},
    };
    for (const auto& c : cases)
        ExpectDialogIn(c.tail, c.language, c.prompt);
}

// ---- SelectInterfaceLanguage in this process (Windows 6.1) ----------------------------------

class SelectInterfaceLanguageTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(string_tables::HalvaneImage(), nullptr);
        savedInstance_ = AppInstance;
        savedLocale_ = GetThreadLocale();
        savedUiLanguage_ = GetThreadUILanguage();
        AppInstance = string_tables::HalvaneImage();  // the strings come from halvane.exe's table
    }
    void TearDown() override
    {
        AppInstance = savedInstance_;
        SetThreadLocale(savedLocale_);
        SetThreadUILanguage(savedUiLanguage_);
    }

private:
    HINSTANCE savedInstance_ = nullptr;
    LCID savedLocale_ = 0;
    LANGID savedUiLanguage_ = 0;
};

// ---- which language the program asks for, on each road -----------------------------------
//
// Wine's SetThreadUILanguage changes nothing, so no dialog can show whether the
// program asks for the language on the road of Windows 6 and later. Its calls
// go through ThreadLanguage, and here they are recorded instead, with the
// version the system reports (which chooses the road) made up.

struct Road {
    const char* name;
    BOOL queried;  // what GetVersionEx returns; on failure the fields stay zero
    DWORD platform;
    DWORD major;
    bool byUiLanguage;  // Windows 6 and later; otherwise the thread locale
};

const Road kRoads[] = {
    {"Windows Vista", TRUE, VER_PLATFORM_WIN32_NT, 6, true},
    {"Windows 10", TRUE, VER_PLATFORM_WIN32_NT, 10, true},
    {"Windows XP", TRUE, VER_PLATFORM_WIN32_NT, 5, false},
    {"a failed version query", FALSE, 0, 0, false},
};

// What the recorders saw: how many calls of either kind, and the last one.
struct Asked {
    int calls = 0;
    bool byUiLanguage = false;
    LCID value = 0;
};

const Road* reportedRoad;
Asked asked;

BOOL WINAPI ReportVersion(OSVERSIONINFOW* version)
{
    if (!reportedRoad->queried)
        return FALSE;
    version->dwPlatformId = reportedRoad->platform;
    version->dwMajorVersion = reportedRoad->major;
    return TRUE;
}

LANGID WINAPI RecordUiLanguage(LANGID language)
{
    asked = {asked.calls + 1, true, language};
    return language;
}

BOOL WINAPI RecordLocale(LCID locale)
{
    asked = {asked.calls + 1, false, locale};
    return TRUE;
}

// The ids themselves are the table's (held to Windows' by language_table_test).
// The thread locale must stay the user's on the newer road: it steers
// comparisons such as the site list's sort.
TEST_F(SelectInterfaceLanguageTest, EachCodeAsksForItsLanguageOnTheRoadOfTheReportedVersion)
{
    const LanguageCalls realCalls = ThreadLanguage;
    ThreadLanguage = {ReportVersion, RecordUiLanguage, RecordLocale};
    std::vector<std::pair<std::wstring, LANGID>> cases;
    for (const InterfaceLanguage& language : InterfaceLanguages)
        cases.emplace_back(language.code, language.langId);
    for (const wchar_t* code : {L"xx", L"fr-fr", L"en-us", L"pt-br", L"zh-cn", L"de-", L"\"de\"", L""})
        cases.emplace_back(code, kEnglish);

    for (const Road& road : kRoads) {
        for (const auto& [code, expected] : cases) {
            SCOPED_TRACE(std::string(road.name) + ", code \"" + Narrow(code.c_str()) + "\"");
            reportedRoad = &road;
            asked = Asked{};
            SelectInterfaceLanguage(code.c_str());
            EXPECT_EQ(asked.calls, 1);
            EXPECT_EQ(asked.byUiLanguage, road.byUiLanguage);
            EXPECT_EQ(asked.value, road.byUiLanguage ? expected : MAKELCID(expected, SORT_DEFAULT));
        }
    }
    ThreadLanguage = realCalls;
}

// With the system's own calls on this (6.x) prefix the program takes the UI-language
// road: its call reaches the system's (which gives back the language asked for; 0
// would mean the look-up failed), and the thread locale, by which Wine would switch
// tables, stays the user's. The decision words are loaded whatever the code.
TEST_F(SelectInterfaceLanguageTest, TheSystemsCallsTakeTheUiLanguageRoadHere)
{
    EXPECT_EQ(ThreadLanguage.SetThreadUILanguage(kGerman), kGerman);
    const LCID locale = GetThreadLocale();
    for (const InterfaceLanguage& language : InterfaceLanguages) {
        AllowText[0] = DenyText[0] = L'\0';
        SelectInterfaceLanguage(language.code);
        EXPECT_EQ(GetThreadLocale(), locale) << Narrow(language.code);
        EXPECT_NE(AllowText[0], L'\0') << Narrow(language.code);
        EXPECT_NE(DenyText[0], L'\0') << Narrow(language.code);
    }
}

}  // namespace
