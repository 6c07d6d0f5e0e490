// The interface language, on both of its roads: seen from outside as a user sees
// it, and, where Wine shows nothing, as the language the program asks for.
//
// halvane.exe picks its string table through the thread's UI language on Windows 6
// and later, and through the thread locale before that. Wine ignores the thread UI
// language, so on the default (6.1) prefix every code shows English, while the
// locale road (language_roads.h) really switches tables.
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

#include <stdlib.h>

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

std::string TestName(const testing::TestParamInfo<InterfaceLanguage>& info)
{
    std::string name = Narrow(info.param.code);
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

// ---- the two roads ------------------------------------------------------------------

// The seeded sites whose decision cells show the Allow and Deny texts.
const wchar_t kAllowedSite[] = L"allowed.example";
const wchar_t kDeniedSite[] = L"denied.example";

// The prompt's site and title, as every prompt tail below names them.
const wchar_t kPromptSite[] = L"example.org";
const wchar_t kPromptTitle[] = L"T";

// The code, then the site and the quoted title, as a page passes them.
std::wstring PromptTail(const wchar_t* code)
{
    return std::wstring(code) + L" example.org \"T\"";
}

class LanguageRoadTest : public testing::Test {
protected:
    void SetUp() override { Reset(); }
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

    // A text a control shows against the stored text of that id in `language`.
    static void ExpectStored(const std::wstring& shown, LANGID language, UINT id, const std::string& label)
    {
        EXPECT_EQ(shown, StringsOf(language)[id]) << label << " " << id << ": shows \"" << Narrow(shown) << "\"";
    }

    // Opens Preferences with this command line and checks that every text, the
    // decision cells of one Allow and one Deny site among them, is the stored text of `language`.
    void ExpectPreferencesIn(const std::wstring& tail, LANGID language, const std::string& label)
    {
        driver::WriteDword(kAllowedSite, 1);
        driver::WriteDword(kDeniedSite, 0);
        CheckDialog(tail, label, "Preferences dialog", [&](HWND dialog) {
            auto expect = [&](const std::wstring& shown, UINT id) { ExpectStored(shown, language, id, label); };
            expect(driver::Text(dialog), IDS_PREFERENCES_CAPTION);
            expect(driver::ItemText(dialog, IDOK), IDS_OK);
            expect(driver::ItemText(dialog, IDCANCEL), IDS_CANCEL);
            expect(driver::ItemText(dialog, IDC_ADD), IDS_ADD);
            expect(driver::ItemText(dialog, IDC_REMOVE), IDS_REMOVE);

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

    // Opens the consent prompt for an unknown site and checks its texts, the message
    // formatted from the stored format with the site (kPromptSite, however the tail
    // spells it) first and the title (kPromptTitle) second.
    void ExpectPromptIn(const std::wstring& tail, LANGID language, const std::string& label)
    {
        CheckDialog(tail, label, "prompt", [&](HWND dialog) {
            auto expect = [&](const std::wstring& shown, UINT id) { ExpectStored(shown, language, id, label); };
            expect(driver::Text(dialog), IDS_PROMPT_CAPTION);
            expect(driver::ItemText(dialog, IDOK), IDS_OK);
            expect(driver::ItemText(dialog, IDCANCEL), IDS_CANCEL);
            expect(driver::ItemText(dialog, IDC_ALWAYS), IDS_ALWAYS);
            expect(driver::ItemText(dialog, IDC_JUST_THIS_TIME), IDS_JUST_THIS_TIME);
            expect(driver::ItemText(dialog, IDC_NEVER), IDS_NEVER);
            expect(driver::ItemText(dialog, IDC_PREFERENCES), IDS_PREFERENCES_BUTTON);

            wchar_t message[1024];
            FormatPromptMessage(StringsOf(language)[IDS_PROMPT_MESSAGE].c_str(), kPromptSite, kPromptTitle, message,
                                1024);
            EXPECT_EQ(driver::ItemText(dialog, IDC_MESSAGE), message) << label << " " << IDS_PROMPT_MESSAGE;
        });
    }
};

// ---- the locale road (Windows XP): the code chooses the table ------------------------------

class LocaleRoadTest : public LanguageRoadTest {
protected:
    void SetUp() override
    {
        LanguageRoadTest::SetUp();
        ASSERT_TRUE(SendHalvaneOnTheLocaleRoad()) << "cannot write HKCU\\" << Narrow(HalvaneAppDefaultsKey());
    }
};

class LocaleRoadPerLanguageTest : public LocaleRoadTest, public testing::WithParamInterface<InterfaceLanguage> {};

// Both dialogs in one test: every start spends more on Wine's process set-up than on the dialog.
TEST_P(LocaleRoadPerLanguageTest, DialogsShowTheChosenLanguage)
{
    const InterfaceLanguage& language = GetParam();
    ExpectPreferencesIn(language.code, language.langId, Narrow(language.code));
    ExpectPromptIn(PromptTail(language.code), language.langId, Narrow(language.code));
}

INSTANTIATE_TEST_SUITE_P(EveryLanguage, LocaleRoadPerLanguageTest, testing::ValuesIn(InterfaceLanguages), TestName);

TEST_F(LocaleRoadTest, CodesOutsideTheTableShowEnglish)
{
    for (const wchar_t* code : {L"xx", L"fr-fr", L"en-us", L"pt-br", L"zh-cn", L"de-"})
        ExpectPreferencesIn(code, kEnglish, "en");
    ExpectPromptIn(L"xx example.org T", kEnglish, "en");
}

TEST_F(LocaleRoadTest, LoneQuotedCodeKeepsItsQuotesAndShowsEnglish)
{
    ExpectPreferencesIn(L"\"fr\"", kEnglish, "en");
    ExpectPreferencesIn(L"\"de\"", kEnglish, "en");
}

TEST_F(LocaleRoadTest, QuotedCodeBeforeASiteLosesItsQuotes)
{
    ExpectPromptIn(L"\"ja\" example.org \"T\"", kJapanese, "ja");
}

TEST_F(LocaleRoadTest, CodeCaseIsIgnored)
{
    ExpectPreferencesIn(L"DE", kGerman, "de");
    ExpectPromptIn(L"Ja Example.ORG T", kJapanese, "ja");
}

// ---- the UI-language road (Windows 6.1, Wine's default): English whatever the code -----------

// Wine ignores the thread UI language, so this road shows English whatever the
// code (which language the program asks for is checked below, through its
// calls). One code suffices to show that the real program, on this road, does
// not switch tables through the thread locale.
class UiLanguageRoadTest : public LanguageRoadTest {
protected:
    void SetUp() override
    {
        LanguageRoadTest::SetUp();
        // Wine then loads the user's own language, which this test takes to be English.
        if (PRIMARYLANGID(GetUserDefaultLangID()) != LANG_ENGLISH)
            GTEST_SKIP() << "the prefix's user language is not English (LANG=" << (getenv("LANG") ? getenv("LANG") : "")
                         << ")";
    }
};

TEST_F(UiLanguageRoadTest, DialogsStayEnglishForAnotherCode)
{
    ExpectPreferencesIn(L"de", kEnglish, "en");
    ExpectPromptIn(PromptTail(L"de"), kEnglish, "en");
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

// The road is chosen by the version the system reports; this prefix is the 6.x one.
TEST_F(SelectInterfaceLanguageTest, DefaultPrefixReportsWindows6OrLater)
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_TRUE(GetVersionExW(&version));
    EXPECT_EQ(version.dwPlatformId, DWORD(VER_PLATFORM_WIN32_NT));
    EXPECT_GE(version.dwMajorVersion, 6u);
}

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

// What the recorders saw: how many calls of each kind, and the last value.
struct Asked {
    int uiLanguageCalls = 0;
    LANGID uiLanguage = 0;
    int localeCalls = 0;
    LCID locale = 0;
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
    ++asked.uiLanguageCalls;
    asked.uiLanguage = language;
    return language;
}

BOOL WINAPI RecordLocale(LCID locale)
{
    ++asked.localeCalls;
    asked.locale = locale;
    return TRUE;
}

class AskedLanguageTest : public SelectInterfaceLanguageTest {
protected:
    void SetUp() override
    {
        SelectInterfaceLanguageTest::SetUp();
        realCalls_ = ThreadLanguage;
        ThreadLanguage = {ReportVersion, RecordUiLanguage, RecordLocale};
    }
    void TearDown() override
    {
        ThreadLanguage = realCalls_;
        SelectInterfaceLanguageTest::TearDown();
    }

private:
    LanguageCalls realCalls_ = {};
};

// The ids themselves are the table's (held to Windows' by language_table_test).
// The thread locale must stay the user's on the newer road: it steers
// comparisons such as the site list's sort.
TEST_F(AskedLanguageTest, EachCodeAsksForItsLanguageOnTheRoadOfTheReportedVersion)
{
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
            if (road.byUiLanguage) {
                EXPECT_EQ(asked.uiLanguageCalls, 1);
                EXPECT_EQ(asked.uiLanguage, expected);
                EXPECT_EQ(asked.localeCalls, 0);
            } else {
                EXPECT_EQ(asked.localeCalls, 1);
                EXPECT_EQ(asked.locale, MAKELCID(expected, SORT_DEFAULT));
                EXPECT_EQ(asked.uiLanguageCalls, 0);
            }
        }
    }
}

// The program's own UI-language call reaches the system's: Wine's gives back
// the language it was asked for, and 0 would mean the look-up failed.
TEST_F(SelectInterfaceLanguageTest, TheUiLanguageCallReachesTheSystems)
{
    EXPECT_EQ(ThreadLanguage.SetThreadUILanguage(kGerman), kGerman);
}

TEST_F(SelectInterfaceLanguageTest, DecisionWordsAreEnglishWhateverTheCode)
{
    if (PRIMARYLANGID(GetUserDefaultLangID()) != LANG_ENGLISH)
        GTEST_SKIP() << "the prefix's user language is not English";
    for (const InterfaceLanguage& language : InterfaceLanguages) {
        AllowText[0] = DenyText[0] = L'\0';
        SelectInterfaceLanguage(language.code);
        EXPECT_STREQ(AllowText, L"Allow") << Narrow(language.code);
        EXPECT_STREQ(DenyText, L"Deny") << Narrow(language.code);
    }
}

}  // namespace
