// The consent prompt, end to end: the real halvane.exe in its own process,
// driven from outside through its windows as a user would, with Wine's real
// registry and stand-in browser windows opened by this test process.
#include "browser_windows.h"
#include "driver.h"
#include "ui/resource_ids.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

const DWORD kTimeoutMs = 10000;
const wchar_t kBrowserClass[] = L"MozillaWindowClass";
const wchar_t kPromptCaption[] = L"Halvane";
const wchar_t kPreferencesCaption[] = L"Halvane Preferences";
const size_t kMessageLimit = 509;  // characters of the message that are shown at most
const DWORD kExitDone = 0;

// The English message, written out here rather than taken from the program.
std::wstring EnglishMessage(const std::wstring& site, const std::wstring& title)
{
    std::wstring message = L"The site " + site + L" wants to keep the window " + title +
                           L" as the topmost window on your desktop. Do you want to allow this action?";
    return message.substr(0, kMessageLimit);
}

// The decision key as (type, bytes) per name, which gtest can compare and print.
using Stored = std::map<std::wstring, std::pair<DWORD, std::vector<BYTE>>>;

Stored StoredDecisions()
{
    Stored stored;
    for (const auto& [name, value] : driver::ReadDecisionsKey())
        stored[name] = {value.type, value.data};
    return stored;
}

std::pair<DWORD, std::vector<BYTE>> DwordOf(DWORD value)
{
    driver::StoredValue stored = driver::Dword(value);
    return {stored.type, stored.data};
}

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

class PromptTest : public testing::Test {
protected:
    void SetUp() override { driver::DeleteDecisionsKey(); }
    void TearDown() override { driver::DeleteDecisionsKey(); }

    // The prompt of a started process, or null when it never appeared.
    static HWND WaitForPrompt(const driver::ScopedProcess& halvane)
    {
        return driver::WaitForDialog(halvane.id(), kTimeoutMs, kPromptCaption);
    }

    // Clicks a choice and waits until the prompt has taken it.
    static bool Choose(HWND prompt, int choice)
    {
        driver::Click(prompt, choice);
        return driver::WaitUntil([&] { return driver::IsChecked(prompt, choice); }, kTimeoutMs);
    }

    // OK, as a user can press it: once it is enabled.
    static bool Confirm(HWND prompt)
    {
        if (!driver::WaitUntil([&] { return driver::IsEnabled(prompt, IDOK); }, kTimeoutMs))
            return false;
        driver::Click(prompt, IDOK);
        return driver::WaitForDialogGone(prompt, kTimeoutMs);
    }

    static std::vector<int> CheckedChoices(HWND prompt)
    {
        std::vector<int> checked;
        for (int choice : {IDC_ALWAYS, IDC_JUST_THIS_TIME, IDC_NEVER})
            if (driver::IsChecked(prompt, choice))
                checked.push_back(choice);
        return checked;
    }
};

// ---- what the prompt shows ----------------------------------------------------

TEST_F(PromptTest, UnknownSiteShowsTheEnglishPromptWithSiteAndTitle)
{
    // The site reaches the prompt lower-cased, the title exactly as given.
    driver::ScopedProcess halvane(driver::Launch(L"en Example.ORG \"My Page\""));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);

    EXPECT_EQ(driver::Text(prompt), L"Halvane");
    EXPECT_EQ(driver::ItemText(prompt, IDC_MESSAGE), EnglishMessage(L"example.org", L"My Page"));
    EXPECT_EQ(driver::ItemText(prompt, IDOK), L"OK");
    EXPECT_EQ(driver::ItemText(prompt, IDCANCEL), L"Cancel");
    EXPECT_EQ(driver::ItemText(prompt, IDC_ALWAYS), L"Always");
    EXPECT_EQ(driver::ItemText(prompt, IDC_JUST_THIS_TIME), L"Just this time");
    EXPECT_EQ(driver::ItemText(prompt, IDC_NEVER), L"Never");
    EXPECT_EQ(driver::ItemText(prompt, IDC_PREFERENCES), L"Preferences...");
}

TEST_F(PromptTest, OpensUndecidedWithOkDisabled)
{
    driver::ScopedProcess halvane(driver::Launch(L"en example.org \"My Page\""));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);

    EXPECT_TRUE(CheckedChoices(prompt).empty());
    EXPECT_FALSE(driver::IsEnabled(prompt, IDOK));
    EXPECT_TRUE(driver::IsEnabled(prompt, IDCANCEL));
    EXPECT_TRUE(driver::IsEnabled(prompt, IDC_PREFERENCES));
    for (int choice : {IDC_ALWAYS, IDC_JUST_THIS_TIME, IDC_NEVER})
        EXPECT_TRUE(driver::IsEnabled(prompt, choice)) << choice;
}

TEST_F(PromptTest, OpensTopmostCentredOnThePrimaryScreenWithABigIcon)
{
    // A browser window already on screen: the prompt must come above it.
    StandInBrowser browser;
    HWND page = browser.Open(kBrowserClass, L"My Page");
    ASSERT_NE(page, nullptr);
    driver::ScopedProcess halvane(driver::Launch(L"en example.org \"My Page\""));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);

    EXPECT_TRUE(driver::IsTopmost(prompt));
    EXPECT_FALSE(driver::IsTopmost(page));

    RECT frame = driver::WindowRect(prompt);
    int width = frame.right - frame.left;
    int height = frame.bottom - frame.top;
    EXPECT_GT(width, 0);
    EXPECT_GT(height, 0);
    EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
    EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);

    // Wine cannot carry WM_GETICON between processes: ask from inside the program.
    LRESULT bigIcon = 0;
    ASSERT_TRUE(driver::SendFromInside(prompt, WM_GETICON, ICON_BIG, 0, &bigIcon));
    EXPECT_NE(bigIcon, 0);
}

// ---- the three choices ----------------------------------------------------------

TEST_F(PromptTest, AlwaysStoresAllowAndKeepsTheWindowOnTopUntilItCloses)
{
    StandInBrowser browser;
    HWND page = browser.Open(kBrowserClass, L"My Page");
    ASSERT_NE(page, nullptr);
    driver::ScopedProcess halvane(driver::Launch(L"en example.org \"My Page\""));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);

    ASSERT_TRUE(Choose(prompt, IDC_ALWAYS));
    ASSERT_TRUE(Confirm(prompt));

    EXPECT_TRUE(driver::WaitUntil([&] { return StandInBrowser::IsTopmost(page); }, kTimeoutMs));
    EXPECT_EQ(StoredDecisions(), (Stored{{L"example.org", DwordOf(1)}}));

    // Still kept: a window pushed out of the topmost band comes back.
    SetWindowPos(page, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ASSERT_FALSE(StandInBrowser::IsTopmost(page));
    EXPECT_TRUE(driver::WaitUntil([&] { return StandInBrowser::IsTopmost(page); }, kTimeoutMs));
    EXPECT_EQ(halvane.WaitForExit(0), STILL_ACTIVE);

    browser.Close(page);
    EXPECT_EQ(halvane.WaitForExit(kTimeoutMs), kExitDone);
}

TEST_F(PromptTest, NeverStoresDenyAndKeepsNothing)
{
    StandInBrowser browser;
    HWND page = browser.Open(kBrowserClass, L"My Page");
    ASSERT_NE(page, nullptr);
    driver::ScopedProcess halvane(driver::Launch(L"en example.org \"My Page\""));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);

    ASSERT_TRUE(Choose(prompt, IDC_NEVER));
    ASSERT_TRUE(Confirm(prompt));

    // It ends although the window is still open.
    EXPECT_EQ(halvane.WaitForExit(kTimeoutMs), kExitDone);
    EXPECT_EQ(StoredDecisions(), (Stored{{L"example.org", DwordOf(0)}}));
    EXPECT_FALSE(StandInBrowser::IsTopmost(page));
}

TEST_F(PromptTest, JustThisTimeKeepsTheWindowOnTopAndStoresNothing)
{
    StandInBrowser browser;
    HWND page = browser.Open(kBrowserClass, L"My Page");
    ASSERT_NE(page, nullptr);
    driver::ScopedProcess halvane(driver::Launch(L"en example.org \"My Page\""));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);

    ASSERT_TRUE(Choose(prompt, IDC_JUST_THIS_TIME));
    ASSERT_TRUE(Confirm(prompt));

    EXPECT_TRUE(driver::WaitUntil([&] { return StandInBrowser::IsTopmost(page); }, kTimeoutMs));
    EXPECT_EQ(halvane.WaitForExit(0), STILL_ACTIVE);
    EXPECT_FALSE(driver::DecisionsKeyExists());

    browser.Close(page);
    EXPECT_EQ(halvane.WaitForExit(kTimeoutMs), kExitDone);
    EXPECT_FALSE(driver::DecisionsKeyExists());
}

TEST_F(PromptTest, TheLastChoiceCountsAlwaysThenNeverStoresDeny)
{
    StandInBrowser browser;
    HWND page = browser.Open(kBrowserClass, L"My Page");
    ASSERT_NE(page, nullptr);
    driver::ScopedProcess halvane(driver::Launch(L"en example.org \"My Page\""));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);

    ASSERT_TRUE(Choose(prompt, IDC_ALWAYS));
    ASSERT_TRUE(Choose(prompt, IDC_NEVER));
    ASSERT_TRUE(Confirm(prompt));

    EXPECT_EQ(halvane.WaitForExit(kTimeoutMs), kExitDone);
    EXPECT_EQ(StoredDecisions(), (Stored{{L"example.org", DwordOf(0)}}));
    EXPECT_FALSE(StandInBrowser::IsTopmost(page));
}

TEST_F(PromptTest, TheFirstChoiceEnablesOkForGoodAndOnlyOneChoiceIsMarked)
{
    driver::ScopedProcess halvane(driver::Launch(L"en example.org \"My Page\""));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);
    ASSERT_FALSE(driver::IsEnabled(prompt, IDOK));

    for (int choice : {IDC_JUST_THIS_TIME, IDC_NEVER, IDC_ALWAYS, IDC_ALWAYS, IDC_JUST_THIS_TIME}) {
        ASSERT_TRUE(Choose(prompt, choice)) << choice;
        EXPECT_EQ(CheckedChoices(prompt), std::vector<int>{choice});
        EXPECT_TRUE(driver::IsEnabled(prompt, IDOK)) << "after " << choice;
    }
}

// ---- leaving without an answer ----------------------------------------------------

enum class Dismissal { CancelButton, EscapeToDialog, EscapeToFocus, CancelCommand, CloseBox };

struct DismissCase {
    const char* name;
    Dismissal how;
    int choice;  // 0: none made before leaving
};

std::ostream& operator<<(std::ostream& out, const DismissCase& c)
{
    return out << c.name;
}

void Dismiss(HWND prompt, Dismissal how)
{
    switch (how) {
    case Dismissal::CancelButton:
        driver::Click(prompt, IDCANCEL);
        break;
    case Dismissal::EscapeToDialog:
        driver::PressKey(prompt, VK_ESCAPE);
        break;
    case Dismissal::EscapeToFocus:
        // Where the key really lands: on the control that has the keyboard focus.
        driver::PressKey(driver::FocusedWindow(prompt), VK_ESCAPE);
        break;
    case Dismissal::CancelCommand:
        // What the dialog manager makes of Esc.
        PostMessageW(prompt, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(prompt, IDCANCEL)));
        break;
    case Dismissal::CloseBox:
        driver::PressCloseBox(prompt);
        break;
    }
}

class PromptDismissTest : public PromptTest, public testing::WithParamInterface<DismissCase> {};

TEST_P(PromptDismissTest, StoresNothingAndKeepsNothing)
{
    StandInBrowser browser;
    HWND page = browser.Open(kBrowserClass, L"My Page");
    ASSERT_NE(page, nullptr);
    driver::ScopedProcess halvane(driver::Launch(L"en example.org \"My Page\""));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);
    if (GetParam().choice)
        ASSERT_TRUE(Choose(prompt, GetParam().choice));
    if (GetParam().how == Dismissal::EscapeToFocus) {
        HWND focus = driver::FocusedWindow(prompt);
        ASSERT_TRUE(focus == prompt || IsChild(prompt, focus));
    }

    Dismiss(prompt, GetParam().how);

    EXPECT_EQ(halvane.WaitForExit(kTimeoutMs), kExitDone);
    EXPECT_FALSE(driver::DecisionsKeyExists());
    EXPECT_FALSE(StandInBrowser::IsTopmost(page));
}

INSTANTIATE_TEST_SUITE_P(
    Ways, PromptDismissTest,
    testing::Values(DismissCase{"CancelUndecided", Dismissal::CancelButton, 0},
                    DismissCase{"CancelAfterAlways", Dismissal::CancelButton, IDC_ALWAYS},
                    DismissCase{"CancelAfterNever", Dismissal::CancelButton, IDC_NEVER},
                    DismissCase{"CancelAfterJustThisTime", Dismissal::CancelButton, IDC_JUST_THIS_TIME},
                    DismissCase{"EscapeToDialogAfterAlways", Dismissal::EscapeToDialog, IDC_ALWAYS},
                    DismissCase{"EscapeToFocusAfterAlways", Dismissal::EscapeToFocus, IDC_ALWAYS},
                    DismissCase{"EscapeToFocusUndecided", Dismissal::EscapeToFocus, 0},
                    DismissCase{"CancelCommandAfterNever", Dismissal::CancelCommand, IDC_NEVER},
                    DismissCase{"CloseBoxAfterAlways", Dismissal::CloseBox, IDC_ALWAYS},
                    DismissCase{"CloseBoxAfterNever", Dismissal::CloseBox, IDC_NEVER},
                    DismissCase{"CloseBoxUndecided", Dismissal::CloseBox, 0}),
    [](const testing::TestParamInfo<DismissCase>& info) { return std::string(info.param.name); });

// ---- page-supplied text in the message ------------------------------------------

struct LengthCase {
    const char* name;
    size_t siteLength;
    size_t titleLength;
};

std::ostream& operator<<(std::ostream& out, const LengthCase& c)
{
    return out << c.name;
}

// Digits that change every character, so a cut one place off shows.
std::wstring Counting(size_t length, wchar_t first)
{
    std::wstring text;
    for (size_t i = 0; i < length; ++i)
        text += static_cast<wchar_t>(first + i % 10);
    return text;
}

class PromptLengthTest : public PromptTest, public testing::WithParamInterface<LengthCase> {};

// The English format has 108 characters of its own, so with an 11-character
// site a 390-character title makes the message exactly 509 characters long.
TEST_P(PromptLengthTest, ShowsAtMostTheFirst509CharactersAndKeepsTheWholeTitle)
{
    std::wstring site = GetParam().siteLength ? Counting(GetParam().siteLength, L'a') : L"example.org";
    std::wstring title = Counting(GetParam().titleLength, L'0');
    StandInBrowser browser;
    HWND page = browser.Open(kBrowserClass, title);
    ASSERT_NE(page, nullptr);
    driver::ScopedProcess halvane(driver::Launch(L"en " + site + L" " + Quoted(title)));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);

    std::wstring expected = EnglishMessage(site, title);
    std::wstring shown = driver::ItemText(prompt, IDC_MESSAGE);
    EXPECT_EQ(shown.size(), expected.size());
    EXPECT_EQ(shown, expected);

    // The cut is for the eye only: the keeper looks for the whole title.
    ASSERT_TRUE(Choose(prompt, IDC_JUST_THIS_TIME));
    ASSERT_TRUE(Confirm(prompt));
    EXPECT_TRUE(driver::WaitUntil([&] { return StandInBrowser::IsTopmost(page); }, kTimeoutMs));
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, PromptLengthTest,
    testing::Values(LengthCase{"Exactly509", 0, 390}, LengthCase{"OneOver", 0, 391},
                    LengthCase{"CutInTheTitle", 0, 600}, LengthCase{"CutInTheSite", 600, 20}),
    [](const testing::TestParamInfo<LengthCase>& info) { return std::string(info.param.name); });

TEST_F(PromptTest, FormatDirectivesInSiteAndTitleAppearLiterally)
{
    const std::wstring site = L"a%s%n%d%x.example";
    const std::wstring title = L"100% %s %n %d %ls %p %%";
    driver::ScopedProcess halvane(driver::Launch(L"en " + site + L" " + Quoted(title)));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);

    EXPECT_EQ(driver::ItemText(prompt, IDC_MESSAGE), EnglishMessage(site, title));

    // The site is remembered as typed, too.
    ASSERT_TRUE(Choose(prompt, IDC_NEVER));
    ASSERT_TRUE(Confirm(prompt));
    EXPECT_EQ(halvane.WaitForExit(kTimeoutMs), kExitDone);
    EXPECT_EQ(StoredDecisions(), (Stored{{site, DwordOf(0)}}));
}

struct DeceptiveCase {
    const char* name;
    std::wstring title;      // as the page set it, and as the browser window carries it
    std::wstring displayed;  // as the prompt must show it
};

std::ostream& operator<<(std::ostream& out, const DeceptiveCase& c)
{
    return out << c.name;
}

const wchar_t kReplacement = 0xFFFD;

// Builds a text from pieces, so that control characters need no escapes in literals.
std::wstring Joined(std::initializer_list<std::wstring> pieces)
{
    std::wstring text;
    for (const std::wstring& piece : pieces)
        text += piece;
    return text;
}

std::wstring Char(wchar_t c)
{
    return std::wstring(1, c);
}

// A title of the given characters, each shown either as itself or replaced.
DeceptiveCase Edges(const char* name, std::initializer_list<std::pair<wchar_t, bool>> characters)
{
    DeceptiveCase edges = {name, L"", L""};
    for (const auto& [c, replaced] : characters) {
        edges.title += c;
        edges.displayed += replaced ? kReplacement : c;
    }
    return edges;
}

class PromptDeceptiveTitleTest : public PromptTest, public testing::WithParamInterface<DeceptiveCase> {};

TEST_P(PromptDeceptiveTitleTest, ShowsReplacementCharactersYetKeepsTheExactWindow)
{
    StandInBrowser browser;
    HWND page = browser.Open(kBrowserClass, GetParam().title);
    ASSERT_NE(page, nullptr);
    ASSERT_EQ(StandInBrowser::Title(page), GetParam().title);
    driver::ScopedProcess halvane(driver::Launch(L"en example.org " + Quoted(GetParam().title)));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);

    EXPECT_EQ(driver::ItemText(prompt, IDC_MESSAGE), EnglishMessage(L"example.org", GetParam().displayed));

    ASSERT_TRUE(Choose(prompt, IDC_JUST_THIS_TIME));
    ASSERT_TRUE(Confirm(prompt));
    EXPECT_TRUE(driver::WaitUntil([&] { return StandInBrowser::IsTopmost(page); }, kTimeoutMs));
}

INSTANTIATE_TEST_SUITE_P(
    Titles, PromptDeceptiveTitleTest,
    testing::Values(
        DeceptiveCase{"LineFeed", Joined({L"Bank login", Char(L'\n'), L"example.org says OK"}),
                      Joined({L"Bank login", Char(kReplacement), L"example.org says OK"})},
        DeceptiveCase{"CarriageReturnLineFeed", Joined({L"Page", Char(L'\r'), Char(L'\n'), L"More"}),
                      Joined({L"Page", Char(kReplacement), Char(kReplacement), L"More"})},
        DeceptiveCase{"RightToLeftOverride", Joined({L"Invoice ", Char(0x202E), L"fdp.exe"}),
                      Joined({L"Invoice ", Char(kReplacement), L"fdp.exe"})},
        DeceptiveCase{"RightToLeftMark", Joined({Char(0x200F), L"My Page", Char(0x200F)}),
                      Joined({Char(kReplacement), L"My Page", Char(kReplacement)})},
        // Every edge of the replaced ranges, next to neighbours that stay as they are.
        Edges("RangeEdges", {{0x01, true},    {0x1F, true},    {0x20, false},   {0x7E, false},  {0x7F, true},
                             {0x9F, true},    {0xA0, false},   {0x061B, false}, {0x061C, true}, {0x061D, false},
                             {0x200D, false}, {0x200E, true},  {0x200F, true},  {0x2010, false}, {0x2027, false},
                             {0x2028, true},  {0x2029, true},  {0x202A, true},  {0x202E, true}, {0x202F, false},
                             {0x2065, false}, {0x2066, true},  {0x2069, true},  {0x206A, false}})),
    [](const testing::TestParamInfo<DeceptiveCase>& info) { return std::string(info.param.name); });

TEST_F(PromptTest, ControlCharactersInTheSiteAreShownReplacedButRememberedAsGiven)
{
    const std::wstring site = Joined({L"bank", Char(0x202E), L"gro.example", Char(0x09), L"x"});
    const std::wstring shown = Joined({L"bank", Char(kReplacement), L"gro.example", Char(kReplacement), L"x"});
    driver::ScopedProcess halvane(driver::Launch(L"en " + site + L" \"My Page\""));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);

    EXPECT_EQ(driver::ItemText(prompt, IDC_MESSAGE), EnglishMessage(shown, L"My Page"));

    ASSERT_TRUE(Choose(prompt, IDC_NEVER));
    ASSERT_TRUE(Confirm(prompt));
    EXPECT_EQ(halvane.WaitForExit(kTimeoutMs), kExitDone);
    EXPECT_EQ(StoredDecisions(), (Stored{{site, DwordOf(0)}}));
}

// ---- what is already in the key -------------------------------------------------

TEST_F(PromptTest, AStoredMinusOneAsksAgainAndAlwaysOverwritesIt)
{
    driver::WriteRaw(L"example.org", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF});
    driver::ScopedProcess halvane(driver::Launch(L"en example.org \"My Page\""));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);

    ASSERT_TRUE(Choose(prompt, IDC_ALWAYS));
    ASSERT_TRUE(Confirm(prompt));
    EXPECT_EQ(halvane.WaitForExit(kTimeoutMs), kExitDone);
    EXPECT_EQ(StoredDecisions(), (Stored{{L"example.org", DwordOf(1)}}));
}

TEST_F(PromptTest, AlwaysRewritesTheKeyDroppingValuesThatAreNoDecisions)
{
    // Valid: any 4 bytes under a name of 1 to 254 characters, whatever the type.
    driver::WriteDword(L"allowed.org", 1);
    driver::WriteDword(L"denied.org", 0);
    driver::WriteRaw(L"binary.org", REG_BINARY, {5, 0, 0, 0});
    const std::wstring longestName = Counting(254, L'a');
    driver::WriteDword(longestName, 1);
    // Junk: wrong sizes, the default value, names too long to read back.
    driver::WriteRaw(L"eight.org", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0});
    driver::WriteRaw(L"two.org", REG_BINARY, {1, 0});
    driver::WriteRaw(L"", REG_DWORD, {1, 0, 0, 0});
    driver::WriteDword(Counting(255, L'a'), 1);
    driver::WriteDword(std::wstring(300, L'x'), 1);

    driver::ScopedProcess halvane(driver::Launch(L"en example.org \"My Page\""));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);
    ASSERT_TRUE(Choose(prompt, IDC_ALWAYS));
    ASSERT_TRUE(Confirm(prompt));
    EXPECT_EQ(halvane.WaitForExit(kTimeoutMs), kExitDone);

    EXPECT_EQ(StoredDecisions(), (Stored{{L"allowed.org", DwordOf(1)},
                                         {L"denied.org", DwordOf(0)},
                                         {L"binary.org", DwordOf(5)},
                                         {longestName, DwordOf(1)},
                                         {L"example.org", DwordOf(1)}}));
}

TEST_F(PromptTest, AlwaysLeavesEverySiteNameInLowerCase)
{
    // Names are compared without regard to case, so a stored "MixedCase.Org" is
    // the same site as mixedcase.org; the rewrite stores it the way the program names sites.
    driver::WriteDword(L"MixedCase.Org", 0);
    driver::ScopedProcess halvane(driver::Launch(L"en Example.ORG \"My Page\""));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);
    ASSERT_TRUE(Choose(prompt, IDC_ALWAYS));
    ASSERT_TRUE(Confirm(prompt));
    EXPECT_EQ(halvane.WaitForExit(kTimeoutMs), kExitDone);

    EXPECT_EQ(StoredDecisions(), (Stored{{L"mixedcase.org", DwordOf(0)}, {L"example.org", DwordOf(1)}}));
}

// ---- Preferences opened from the prompt ------------------------------------------

class PromptPreferencesTest : public PromptTest {
protected:
    // Opens Preferences from the prompt; null when it did not appear.
    static HWND OpenPreferences(const driver::ScopedProcess& halvane, HWND prompt)
    {
        driver::Click(prompt, IDC_PREFERENCES);
        return driver::WaitForDialog(halvane.id(), kTimeoutMs, kPreferencesCaption);
    }

    // Closes Preferences and returns once the prompt has dealt with its end (and
    // saved, or not): the dialog is destroyed only when its modal run returns, and
    // a message sent afterwards is handled only once the prompt's Preferences
    // command is over, so whatever the registry holds then is final.
    static bool ClosePreferences(HWND prompt, HWND preferences, int button)
    {
        driver::Click(preferences, button);
        DWORD_PTR ignored = 0;
        return driver::WaitUntil([&] { return !IsWindow(preferences); }, kTimeoutMs) &&
               SendMessageTimeoutW(prompt, WM_NULL, 0, 0, SMTO_NORMAL, kTimeoutMs, &ignored) != 0 &&
               IsWindowEnabled(prompt) != FALSE;
    }
};

TEST_F(PromptPreferencesTest, OpensOwnedByThePromptWhichWaitsDisabled)
{
    driver::ScopedProcess halvane(driver::Launch(L"en example.org \"My Page\""));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);

    HWND preferences = OpenPreferences(halvane, prompt);
    ASSERT_NE(preferences, nullptr);
    EXPECT_EQ(GetWindow(preferences, GW_OWNER), prompt);
    EXPECT_FALSE(IsWindowEnabled(prompt));

    ASSERT_TRUE(ClosePreferences(prompt, preferences, IDCANCEL));
    EXPECT_TRUE(IsWindowVisible(prompt));
    EXPECT_EQ(halvane.WaitForExit(0), STILL_ACTIVE);
}

TEST_F(PromptPreferencesTest, CancelSavesNothingAndLeavesAnUndecidedPromptUndecided)
{
    driver::WriteDword(L"other.org", 1);
    driver::WriteRaw(L"junk.org", REG_BINARY, {1, 2});  // a save would drop it
    const Stored before = StoredDecisions();
    driver::ScopedProcess halvane(driver::Launch(L"en example.org \"My Page\""));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);

    HWND preferences = OpenPreferences(halvane, prompt);
    ASSERT_NE(preferences, nullptr);
    ASSERT_TRUE(ClosePreferences(prompt, preferences, IDCANCEL));

    EXPECT_EQ(StoredDecisions(), before);
    EXPECT_TRUE(CheckedChoices(prompt).empty());
    EXPECT_FALSE(driver::IsEnabled(prompt, IDOK));

    // The prompt still answers as before.
    ASSERT_TRUE(Choose(prompt, IDC_NEVER));
    ASSERT_TRUE(Confirm(prompt));
    EXPECT_EQ(halvane.WaitForExit(kTimeoutMs), kExitDone);
    EXPECT_EQ(StoredDecisions(), (Stored{{L"other.org", DwordOf(1)}, {L"example.org", DwordOf(0)}}));
}

TEST_F(PromptPreferencesTest, CancelLeavesADecidedPromptDecided)
{
    driver::ScopedProcess halvane(driver::Launch(L"en example.org \"My Page\""));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);
    ASSERT_TRUE(Choose(prompt, IDC_NEVER));

    HWND preferences = OpenPreferences(halvane, prompt);
    ASSERT_NE(preferences, nullptr);
    ASSERT_TRUE(ClosePreferences(prompt, preferences, IDCANCEL));

    EXPECT_FALSE(driver::DecisionsKeyExists());
    EXPECT_EQ(CheckedChoices(prompt), std::vector<int>{IDC_NEVER});
    EXPECT_TRUE(driver::IsEnabled(prompt, IDOK));

    // The choice made before Preferences is the one acted on.
    ASSERT_TRUE(Confirm(prompt));
    EXPECT_EQ(halvane.WaitForExit(kTimeoutMs), kExitDone);
    EXPECT_EQ(StoredDecisions(), (Stored{{L"example.org", DwordOf(0)}}));
}

TEST_F(PromptPreferencesTest, OkSavesAtOnceWhileThePromptStaysOpen)
{
    driver::WriteDword(L"other.org", 1);
    driver::WriteRaw(L"junk.org", REG_BINARY, {1, 2});
    driver::ScopedProcess halvane(driver::Launch(L"en example.org \"My Page\""));
    HWND prompt = WaitForPrompt(halvane);
    ASSERT_NE(prompt, nullptr);
    ASSERT_TRUE(Choose(prompt, IDC_JUST_THIS_TIME));

    HWND preferences = OpenPreferences(halvane, prompt);
    ASSERT_NE(preferences, nullptr);
    ASSERT_TRUE(ClosePreferences(prompt, preferences, IDOK));

    EXPECT_EQ(StoredDecisions(), (Stored{{L"other.org", DwordOf(1)}}));
    EXPECT_TRUE(IsWindowVisible(prompt));
    EXPECT_EQ(CheckedChoices(prompt), std::vector<int>{IDC_JUST_THIS_TIME});
    EXPECT_TRUE(driver::IsEnabled(prompt, IDOK));
}

}  // namespace
