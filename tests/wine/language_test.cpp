// The interface language on both roads (language_roads.h). Wine ignores the thread
// UI language, so only the locale road shows in the dialogs there (on Windows, the
// program's own road does); the other road is seen through the program's calls. Expected texts come from halvane.exe's own table for
// each LANGID, so these check which table reaches the dialogs, not the wording.
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

const LANGID kEnglish = 1033, kGerman = 1031, kJapanese = 1041;

using string_tables::Narrow;
using string_tables::StringsOf;

const wchar_t kAllowedSite[] = L"allowed.example";
const wchar_t kDeniedSite[] = L"denied.example";
// The prompt's site and title, as every prompt tail below names them.
const wchar_t kPromptSite[] = L"example.org";
const wchar_t kPromptTitle[] = L"T";

class LocaleRoadTest : public testing::Test {
protected:
    void SetUp() override
    {
        TearDown();
        ASSERT_TRUE(SendHalvaneOnTheLocaleRoad()) << "cannot write HKCU\\" << Narrow(kHalvaneAppDefaults);
    }
    void TearDown() override  // also before each test: the default road and no decisions
    {
        SendHalvaneOnTheDefaultRoad();
        driver::DeleteDecisionsKey();
    }

    // Starts halvane.exe with this tail and checks that every text of its dialog is
    // the stored text of `language`: Preferences, with the decision cells of one Allow
    // and one Deny site, or the prompt (kPromptSite, however the tail spells it), then
    // cancels it: whatever it showed, the start must end cleanly.
    void ExpectDialogIn(const std::wstring& tail, LANGID language, bool prompt)
    {
        const std::string label = "language " + std::to_string(language);
        auto expect = [&](const std::wstring& shown, UINT id) {
            EXPECT_EQ(shown, StringsOf(language)[id]) << label << ", string " << id << ": \"" << Narrow(shown) << "\"";
        };
        const std::pair<const wchar_t*, UINT> sites[] = {{kAllowedSite, IDS_ALLOW}, {kDeniedSite, IDS_DENY}};
        for (const auto& [site, id] : sites)
            driver::WriteDword(site, id == IDS_ALLOW);
        SCOPED_TRACE("halvane.exe " + Narrow(tail) + " should show " + label);
        driver::HalvaneDialog halvane(tail);
        ASSERT_NE(halvane.id(), 0u) << "halvane.exe did not start";
        ASSERT_NE(halvane.dialog(), nullptr) << "no " << (prompt ? "prompt" : "Preferences dialog");
        auto check = [&](HWND dialog) {
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
            for (size_t i = 0; i < 2; ++i) {
                EXPECT_EQ(rows[i].domain, sites[i].first);
                expect(rows[i].decision, sites[i].second);
            }
        };
        ASSERT_NO_FATAL_FAILURE(check(halvane.dialog()));
        EXPECT_EQ(halvane.Close(), 0u);
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

// Codes outside the table show English. A lone quoted code keeps its quotes, so
// matches nothing; before a site it loses them.
const wchar_t* const kUnknownCodes[] = {L"xx", L"fr-fr", L"en-us", L"pt-br", L"zh-cn", L"de-", L"\"fr\"", L"\"de\""};

TEST_F(LocaleRoadTest, TheCodeAsTheCommandLineSpellsIt)
{
    for (const wchar_t* code : kUnknownCodes)
        ExpectDialogIn(code, kEnglish, false);
    ExpectDialogIn(L"xx example.org T", kEnglish, true);
    ExpectDialogIn(L"\"ja\" example.org \"T\"", kJapanese, true);
    ExpectDialogIn(L"DE", kGerman, false);  // letter case is ignored
    ExpectDialogIn(L"Ja Example.ORG T", kJapanese, true);
}

class SelectInterfaceLanguageTest : public testing::Test {
    HINSTANCE savedInstance_ = nullptr;
    LCID savedLocale_ = 0;
    LANGID savedUiLanguage_ = 0;

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
};

// Wine's SetThreadUILanguage changes nothing, so the program's calls through
// ThreadLanguage are recorded instead, with the reported version (the road) made up.

// queried: what GetVersionEx returns (on failure the fields stay zero); byUiLanguage:
// Windows 6 and later, otherwise the thread locale.
struct Road {
    const char* name;
    BOOL queried;
    DWORD platform, major;
    bool byUiLanguage;
};

const Road kRoads[] = {
    {"Windows Vista", TRUE, VER_PLATFORM_WIN32_NT, 6, true},
    {"Windows 10", TRUE, VER_PLATFORM_WIN32_NT, 10, true},
    {"Windows XP", TRUE, VER_PLATFORM_WIN32_NT, 5, false},
    {"a failed version query", FALSE, 0, 0, false},
};

const Road* reportedRoad;
struct { int calls; bool byUiLanguage; LCID value; } asked;  // calls of either kind, and the last one

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

// The ids are the table's (held to Windows' by language_table_test). The thread locale must
// stay the user's on the newer road: it steers comparisons such as the site list's sort.
TEST_F(SelectInterfaceLanguageTest, EachCodeAsksForItsLanguageOnTheRoadOfTheReportedVersion)
{
    const LanguageCalls realCalls = ThreadLanguage;
    ThreadLanguage = {ReportVersion, RecordUiLanguage, RecordLocale};
    std::vector<std::pair<std::wstring, LANGID>> cases;
    for (const InterfaceLanguage& language : InterfaceLanguages)
        cases.emplace_back(language.code, language.langId);
    for (const wchar_t* code : kUnknownCodes)
        cases.emplace_back(code, kEnglish);
    cases.emplace_back(L"", kEnglish);

    for (const Road& road : kRoads) {
        for (const auto& [code, expected] : cases) {
            SCOPED_TRACE(std::string(road.name) + ", code \"" + Narrow(code.c_str()) + "\"");
            reportedRoad = &road;
            asked = {};
            SelectInterfaceLanguage(code.c_str());
            EXPECT_EQ(asked.calls, 1);
            EXPECT_EQ(asked.byUiLanguage, road.byUiLanguage);
            EXPECT_EQ(asked.value, road.byUiLanguage ? expected : MAKELCID(expected, SORT_DEFAULT));
        }
    }
    ThreadLanguage = realCalls;
}

// With the system's own calls on this 6.x prefix the program takes the UI-language road
// (0 back would mean the look-up failed) and leaves the thread locale, by which Wine
// would switch tables, the user's. The decision words are loaded whatever the code.
TEST_F(SelectInterfaceLanguageTest, TheSystemsCallsTakeTheUiLanguageRoadHere)
{
    if (!driver::VistaOrLater())
        GTEST_SKIP() << "needs Windows Vista or later: XP has no thread UI language, and the program takes the "
                        "thread locale's road there";
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
