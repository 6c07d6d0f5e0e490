// The consent prompt, end to end: the real halvane.exe in its own process,
// driven from outside through its windows as a user would, with Wine's real
// registry and stand-in browser windows opened by this test process.
#include "browser_windows.h"
#include "driver.h"
#include "language_roads.h"
#include "string_tables.h"
#include "ui/resource_ids.h"

#include <gtest/gtest.h>
#include <oleacc.h>

#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using driver::Dword;
using Key = driver::KeyContents;

const DWORD kTimeoutMs = driver::kPatienceMs;
const wchar_t kBrowserClass[] = L"MozillaWindowClass";
const wchar_t kPromptCaption[] = L"Halvane";
const wchar_t kPreferencesCaption[] = L"Halvane Preferences";
const size_t kMessageLimit = 509;  // characters of the message that are shown at most
const DWORD kExitDone = 0;
// What most tests start with: an English prompt about an ordinary site and page.
const wchar_t kUsualCommandLine[] = L"en example.org \"My Page\"";

// The English message, written out here rather than taken from the program.
std::wstring EnglishMessage(const std::wstring& site, const std::wstring& title)
{
    std::wstring message = L"The site " + site + L" wants to keep the window " + title +
                           L" as the topmost window on your desktop. Do you want to allow this action?";
    return message.substr(0, kMessageLimit);
}

// Digits that change every character, so a cut one place off shows.
std::wstring Counting(size_t length, wchar_t first)
{
    std::wstring text;
    for (size_t i = 0; i < length; ++i)
        text += static_cast<wchar_t>(first + i % 10);
    return text;
}

class PromptTest : public testing::Test {
protected:
    void SetUp() override { driver::DeleteDecisionsKey(); }
    void TearDown() override
    {
        // End the program before its browser window goes, and both before the key
        // is wiped, so nothing a test left running can write to the next test's key.
        halvane_.reset();
        browser_.reset();
        driver::DeleteDecisionsKey();
    }

    // A browser window with this title, on its own pumping thread, as page_.
    void OpenPage(const std::wstring& title = L"My Page")
    {
        browser_ = std::make_unique<StandInBrowser>();
        page_ = browser_->Open(kBrowserClass, title);
        ASSERT_NE(page_, nullptr);
    }

    // Starts halvane.exe as halvane_ and waits for its prompt, as prompt_.
    void StartPrompt(const std::wstring& commandLine = kUsualCommandLine, const wchar_t* caption = kPromptCaption)
    {
        halvane_ = std::make_unique<driver::HalvaneDialog>(commandLine, caption);
        prompt_ = halvane_->dialog();
        ASSERT_NE(prompt_, nullptr);
        inputCounts_ = false;
    }

    // The prompt ignores presses until it has been active for its guard time;
    // a person waits that out once, and again after it was activated anew.
    bool AwaitInput()
    {
        if (!inputCounts_)
            inputCounts_ = driver::WaitUntilInputCounts(prompt_, kTimeoutMs);
        return inputCounts_;
    }

    bool Choose(int choice) { return AwaitInput() && driver::Pick(prompt_, choice); }
    // A whole answer: the choice, then OK.
    void Answer(int choice)
    {
        ASSERT_TRUE(Choose(choice)) << choice;
        ASSERT_TRUE(driver::PressOk(prompt_));
    }

    void ExpectEndWith(const Key& key)
    {
        EXPECT_EQ(halvane_->WaitForExit(kTimeoutMs), kExitDone);
        EXPECT_EQ(driver::ReadDecisionsKey(), key);
    }

    // Keeping is done from the other process, so it shows only after a while.
    bool PageBecomesTopmost()
    {
        return driver::WaitUntil([&] { return StandInBrowser::IsTopmost(page_); }, kTimeoutMs);
    }

    std::vector<int> CheckedChoices() { return driver::CheckedChoices(prompt_); }

    std::unique_ptr<StandInBrowser> browser_;  // only for tests that open a page
    HWND page_ = nullptr;
    std::unique_ptr<driver::HalvaneDialog> halvane_;
    HWND prompt_ = nullptr;
    bool inputCounts_ = false;  // the guard time has been waited out since the prompt was last activated
};

// ---- what the prompt shows ----------------------------------------------------

// What a screen reader hears of a window: its role and name through the
// platform's accessibility layer (oleacc), asked from outside the process.
struct Heard {
    long role = -1;
    std::wstring name = L"(no object)";
};

Heard Hear(HWND window)
{
    Heard heard;
    IAccessible* accessible = nullptr;
    // __uuidof: the IID_IAccessible of a static mingw-w64 link is not the interface's id.
    if (FAILED(AccessibleObjectFromWindow(window, OBJID_CLIENT, __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&accessible))) ||
        !accessible)
        return heard;
    VARIANT self = {}, role = {};  // zeroed: VT_EMPTY
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    if (SUCCEEDED(accessible->get_accRole(self, &role)) && role.vt == VT_I4)
        heard.role = role.lVal;
    BSTR name = nullptr;
    heard.name = L"(no name)";
    if (SUCCEEDED(accessible->get_accName(self, &name)) && name) {
        heard.name = name;
        SysFreeString(name);
    }
    accessible->Release();
    return heard;
}

// The role Windows' accessibility layer gives a window of this class and style.
long RoleOfClass(HWND window)
{
    std::wstring name = driver::ClassName(window);
    LONG type = GetWindowLongW(window, GWL_STYLE) & BS_TYPEMASK;
    if (name == L"#32770")
        return ROLE_SYSTEM_DIALOG;
    if (name == L"Static")
        return ROLE_SYSTEM_STATICTEXT;
    if (name == L"Button" && (type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON))
        return ROLE_SYSTEM_RADIOBUTTON;
    if (name == L"Button" && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON))
        return ROLE_SYSTEM_PUSHBUTTON;
    return ROLE_SYSTEM_CLIENT;
}

TEST_F(PromptTest, OpensUndecidedAboveTheBrowserWithItsTextsRolesAndIconAndTheKeyboardAloneAnswersIt)
{
    ASSERT_NO_FATAL_FAILURE(OpenPage());
    // The site reaches the prompt lower-cased, the title exactly as given.
    ASSERT_NO_FATAL_FAILURE(StartPrompt(L"en Example.ORG \"My Page\""));

    // The prompt gives the first focus to Cancel itself (the platform's choice
    // differs between Windows and Wine), and the keys that would answer from
    // there, pressed as it appears, leave it as it was.
    HWND cancel = GetDlgItem(prompt_, IDCANCEL);
    ASSERT_EQ(driver::FocusedWindow(prompt_), cancel);
    driver::PressKey(cancel, VK_SPACE);
    driver::PressKey(cancel, VK_RETURN);
    ASSERT_TRUE(driver::Settle(prompt_));
    EXPECT_TRUE(IsWindowVisible(prompt_));
    EXPECT_EQ(driver::FocusedWindow(prompt_), cancel);
    EXPECT_TRUE(CheckedChoices().empty());
    EXPECT_FALSE(driver::DecisionsKeyExists());

    // No COM apartment: the prompt answers no WM_GETOBJECT, so oleacc makes its
    // standard objects in this process and nothing is marshalled.
    struct Expected {
        int id;  // 0: the dialog itself
        long role;
        std::wstring text;
    };
    const Expected expected[] = {
        {0, ROLE_SYSTEM_DIALOG, L"Halvane"},
        {IDC_MESSAGE, ROLE_SYSTEM_STATICTEXT, EnglishMessage(L"example.org", L"My Page")},
        {IDC_ALWAYS, ROLE_SYSTEM_RADIOBUTTON, L"Always"},
        {IDC_JUST_THIS_TIME, ROLE_SYSTEM_RADIOBUTTON, L"Just this time"},
        {IDC_NEVER, ROLE_SYSTEM_RADIOBUTTON, L"Never"},
        {IDOK, ROLE_SYSTEM_PUSHBUTTON, L"OK"},
        {IDCANCEL, ROLE_SYSTEM_PUSHBUTTON, L"Cancel"},
        {IDC_PREFERENCES, ROLE_SYSTEM_PUSHBUTTON, L"Preferences..."},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.id);
        HWND window = e.id ? GetDlgItem(prompt_, e.id) : prompt_;
        EXPECT_EQ(driver::Text(window), e.text);
        // Undecided: every control takes input but OK.
        EXPECT_EQ(IsWindowEnabled(window) != FALSE, e.id != IDOK);
        Heard heard = Hear(window);
        EXPECT_EQ(heard.name, e.text);
        // Wine's oleacc gives every window the role "client", so there the window is held to
        // what Windows derives the role from, its class and button style.
        EXPECT_EQ(driver::UnderWine() ? RoleOfClass(window) : heard.role, e.role);
    }

    // Above the browser window, centred on the primary screen, with a big icon.
    EXPECT_TRUE(driver::IsTopmost(prompt_));
    EXPECT_FALSE(driver::IsTopmost(page_));
    RECT frame = driver::WindowRect(prompt_);
    int width = frame.right - frame.left;
    int height = frame.bottom - frame.top;
    EXPECT_GT(width, 0);
    EXPECT_GT(height, 0);
    EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
    EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
    // Wine cannot carry WM_GETICON between processes: ask from inside the program.
    LRESULT bigIcon = 0;
    ASSERT_TRUE(driver::SendFromInside(prompt_, WM_GETICON, ICON_BIG, 0, &bigIcon));
    EXPECT_NE(bigIcon, 0);

    // The keyboard alone: each key goes where a real key press goes, to the
    // control that has the focus, and is followed by a wait for what it should do there.
    auto press = [&](UINT key) {
        ASSERT_TRUE(AwaitInput());
        driver::PressKey(driver::FocusedWindow(prompt_), key);
    };
    auto marked = [&](int id) {
        return driver::WaitUntil([&] { return CheckedChoices() == std::vector<int>{id}; }, kTimeoutMs);
    };

    // From wherever the dialog put the focus, Tab must come to the first choice
    // within one round of the controls that take it.
    bool reached = false;
    for (int tabs = 0; tabs < 7 && !reached; ++tabs) {
        HWND before = driver::FocusedWindow(prompt_);
        press(VK_TAB);
        driver::WaitUntil([&] { return driver::FocusedWindow(prompt_) != before; }, 2000);
        reached = driver::FocusedWindow(prompt_) == GetDlgItem(prompt_, IDC_ALWAYS);
    }
    ASSERT_TRUE(reached) << "Tab never reaches a choice";
    // Coming to a choice is not making it.
    EXPECT_TRUE(CheckedChoices().empty());
    EXPECT_FALSE(driver::IsEnabled(prompt_, IDOK));

    press(VK_SPACE);
    ASSERT_TRUE(marked(IDC_ALWAYS));
    press(VK_DOWN);
    ASSERT_TRUE(driver::WaitUntil(
        [&] { return driver::FocusedWindow(prompt_) == GetDlgItem(prompt_, IDC_JUST_THIS_TIME); }, kTimeoutMs));
    ASSERT_TRUE(marked(IDC_JUST_THIS_TIME));
    press(VK_DOWN);
    ASSERT_TRUE(marked(IDC_NEVER));
    ASSERT_TRUE(driver::WaitUntil([&] { return driver::IsEnabled(prompt_, IDOK); }, kTimeoutMs));
    press(VK_RETURN);
    ExpectEndWith({{L"example.org", Dword(0)}});
}

// ---- the three choices ----------------------------------------------------------

struct AnswerCase {
    const char* name;
    std::vector<int> before;  // choices made, and changed, before the answer
    int answer;
};

// Rows are named, in messages and test names, by their first member.
std::ostream& operator<<(std::ostream& out, const AnswerCase& c) { return out << c.name; }

class PromptAnswerTest : public PromptTest, public testing::WithParamInterface<AnswerCase> {};

// Always stores Allow and Just this time nothing, and both keep the window on top
// until it closes, even when pushed out of the band; Never stores Deny and ends.
TEST_P(PromptAnswerTest, StoresAndKeepsWhatTheLastChoiceSays)
{
    const AnswerCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(OpenPage());
    ASSERT_NO_FATAL_FAILURE(StartPrompt());
    // The first choice enables OK for good, and only one choice is ever marked.
    for (int choice : c.before) {
        ASSERT_TRUE(Choose(choice)) << choice;
        EXPECT_EQ(CheckedChoices(), std::vector<int>{choice});
        EXPECT_TRUE(driver::IsEnabled(prompt_, IDOK)) << "after " << choice;
    }
    ASSERT_NO_FATAL_FAILURE(Answer(c.answer));

    if (c.answer == IDC_NEVER) {
        // It ends although the window is still open.
        ExpectEndWith({{L"example.org", Dword(0)}});
        EXPECT_FALSE(StandInBrowser::IsTopmost(page_));
        return;
    }
    const Key stored = c.answer == IDC_ALWAYS ? Key{{L"example.org", Dword(1)}} : Key{};
    EXPECT_TRUE(PageBecomesTopmost());
    EXPECT_EQ(driver::ReadDecisionsKey(), stored);
    SetWindowPos(page_, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ASSERT_FALSE(StandInBrowser::IsTopmost(page_));
    EXPECT_TRUE(PageBecomesTopmost());
    EXPECT_EQ(halvane_->WaitForExit(0), STILL_ACTIVE);

    browser_->Close(page_);
    ExpectEndWith(stored);
    EXPECT_EQ(driver::DecisionsKeyExists(), !stored.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Choices, PromptAnswerTest,
    testing::Values(AnswerCase{"Always", {}, IDC_ALWAYS}, AnswerCase{"JustThisTime", {}, IDC_JUST_THIS_TIME},
                    AnswerCase{"NeverAfterEveryOther",
                               {IDC_JUST_THIS_TIME, IDC_NEVER, IDC_ALWAYS, IDC_ALWAYS, IDC_JUST_THIS_TIME, IDC_ALWAYS},
                               IDC_NEVER}),
    testing::PrintToStringParamName());

// ---- what is already in the key -------------------------------------------------

TEST_F(PromptTest, AnAnswerRewritesTheKeyLowerCasedWithoutValuesThatAreNoDecisions)
{
    // Valid: any 4 bytes under a name of 1 to 254 characters, whatever the type.
    driver::WriteDword(L"allowed.org", 1);
    driver::WriteRaw(L"binary.org", REG_BINARY, {5, 0, 0, 0});
    const std::wstring longestName = Counting(254, L'a');
    driver::WriteDword(longestName, 1);
    // Names are compared without regard to case, so a stored "MixedCase.Org" is
    // the same site as mixedcase.org; the rewrite stores it the way the program names sites.
    driver::WriteDword(L"MixedCase.Org", 0);
    // Junk: wrong sizes, the default value, names too long to read back.
    driver::WriteRaw(L"eight.org", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0});
    driver::WriteRaw(L"two.org", REG_BINARY, {1, 0});
    driver::WriteRaw(L"", REG_DWORD, {1, 0, 0, 0});
    driver::WriteDword(Counting(255, L'a'), 1);
    driver::WriteDword(std::wstring(300, L'x'), 1);
    // A stored -1 is no decision: the prompt asks, and the answer takes its place,
    // though values that cannot be loaded leave free slots before it.
    driver::WriteRaw(L"example.org", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF});

    ASSERT_NO_FATAL_FAILURE(StartPrompt(L"en Example.ORG \"My Page\""));
    ASSERT_NO_FATAL_FAILURE(Answer(IDC_ALWAYS));
    ExpectEndWith({{L"allowed.org", Dword(1)},
                   {L"binary.org", Dword(5)},
                   {longestName, Dword(1)},
                   {L"mixedcase.org", Dword(0)},
                   {L"example.org", Dword(1)}});
}

// ---- leaving without an answer ----------------------------------------------------

enum class Dismissal { CancelButton, EscapeToDialog, EscapeToFocus, CancelCommand, CloseBox };

struct DismissCase {
    const char* name;
    Dismissal how;
    int choice;  // 0: none made before leaving
};

std::ostream& operator<<(std::ostream& out, const DismissCase& c) { return out << c.name; }

class PromptDismissTest : public PromptTest, public testing::WithParamInterface<DismissCase> {};

TEST_P(PromptDismissTest, StoresNothingAndKeepsNothing)
{
    ASSERT_NO_FATAL_FAILURE(OpenPage());
    ASSERT_NO_FATAL_FAILURE(StartPrompt());
    if (GetParam().choice)
        ASSERT_TRUE(Choose(GetParam().choice));
    HWND focus = driver::FocusedWindow(prompt_);
    switch (GetParam().how) {
    case Dismissal::CancelButton:
        driver::Click(prompt_, IDCANCEL);
        break;
    case Dismissal::EscapeToDialog:
        driver::PressKey(prompt_, VK_ESCAPE);
        break;
    case Dismissal::EscapeToFocus:
        // Where the key really lands: on the control that has the keyboard focus.
        ASSERT_TRUE(focus == prompt_ || IsChild(prompt_, focus));
        driver::PressKey(focus, VK_ESCAPE);
        break;
    case Dismissal::CancelCommand:
        // What the dialog manager makes of Esc.
        PostMessageW(prompt_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(prompt_, IDCANCEL)));
        break;
    case Dismissal::CloseBox:
        driver::PressCloseBox(prompt_);
        break;
    }

    EXPECT_EQ(halvane_->WaitForExit(kTimeoutMs), kExitDone);
    EXPECT_FALSE(driver::DecisionsKeyExists());
    EXPECT_FALSE(StandInBrowser::IsTopmost(page_));
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
    testing::PrintToStringParamName());

// ---- input meant for something else -------------------------------------------------

// A page can make the prompt appear under the user's next click or key. Input is
// posted to the control as the system posts mouse and key messages, each with
// its message time, so the prompt's filter judges it as it would a real press.
// Cancel, Escape and the close box work at once: the dismissal cases above
// press them as soon as the prompt is seen.

enum class Press { ClickAlways, SpaceOnAlways, ClickPreferences, ClickOk, EnterOnAlways };

struct GuardCase {
    const char* name;
    Press press;
    bool decidedFirst;  // Always chosen, then the prompt moved, which starts the guard again
    bool heldDown;      // the press comes late enough, but as the repeat of a key held down
};

std::ostream& operator<<(std::ostream& out, const GuardCase& c) { return out << c.name; }

class PromptGuardTest : public PromptTest, public testing::WithParamInterface<GuardCase> {
protected:
    void DoPress(Press press, bool heldDown)
    {
        switch (press) {
        case Press::ClickAlways: driver::Click(prompt_, IDC_ALWAYS); break;
        case Press::ClickPreferences: driver::Click(prompt_, IDC_PREFERENCES); break;
        case Press::ClickOk: driver::Click(prompt_, IDOK); break;
        case Press::SpaceOnAlways: driver::PressKey(GetDlgItem(prompt_, IDC_ALWAYS), VK_SPACE, heldDown); break;
        case Press::EnterOnAlways: driver::PressKey(GetDlgItem(prompt_, IDC_ALWAYS), VK_RETURN, heldDown); break;
        }
    }

    // What a press could change: the marks, OK, the focus, the dialogs shown, the key.
    auto Trace() -> decltype(std::make_tuple(std::vector<int>(), false, HWND(), size_t(), driver::KeyContents()))
    {
        return std::make_tuple(CheckedChoices(), driver::IsEnabled(prompt_, IDOK), driver::FocusedWindow(prompt_),
                               driver::DialogsOf(halvane_->id()).size(), driver::ReadDecisionsKey());
    }

    // Moved, the prompt takes no press until the guard time has passed again.
    void MovePrompt()
    {
        RECT frame = driver::WindowRect(prompt_);
        ASSERT_TRUE(SetWindowPos(prompt_, nullptr, frame.left + 8, frame.top, 0, 0,
                                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE));
        inputCounts_ = false;
    }
};

TEST_P(PromptGuardTest, APressTooSoonIsIgnoredWithoutATraceAndCountsOnceTheGuardTimeHasPassed)
{
    const GuardCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartPrompt());
    if (c.decidedFirst) {
        ASSERT_TRUE(Choose(IDC_ALWAYS));
        ASSERT_NO_FATAL_FAILURE(MovePrompt());
    }
    if (c.heldDown)
        ASSERT_TRUE(AwaitInput());
    driver::FocusControl(prompt_, GetDlgItem(prompt_, IDC_ALWAYS));  // where Space and Enter go
    const auto before = Trace();

    DoPress(c.press, c.heldDown);
    ASSERT_TRUE(driver::Settle(prompt_));
    EXPECT_EQ(Trace(), before);

    ASSERT_TRUE(AwaitInput());
    DoPress(c.press, false);
    switch (c.press) {
    case Press::ClickAlways:
    case Press::SpaceOnAlways:
        EXPECT_TRUE(driver::WaitUntil([&] { return CheckedChoices() == std::vector<int>{IDC_ALWAYS}; }, kTimeoutMs));
        EXPECT_TRUE(driver::IsEnabled(prompt_, IDOK));
        break;
    case Press::ClickPreferences:
        EXPECT_NE(driver::WaitForDialog(halvane_->id(), kTimeoutMs, kPreferencesCaption), nullptr);
        break;
    case Press::ClickOk:
    case Press::EnterOnAlways:
        ExpectEndWith({{L"example.org", Dword(1)}});
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Presses, PromptGuardTest,
    testing::Values(GuardCase{"ClickAlways", Press::ClickAlways, false, false},
                    GuardCase{"SpaceOnAlways", Press::SpaceOnAlways, false, false},
                    GuardCase{"ClickPreferences", Press::ClickPreferences, false, false},
                    GuardCase{"ClickOkAfterAMove", Press::ClickOk, true, false},
                    GuardCase{"EnterOnAlwaysAfterAMove", Press::EnterOnAlways, true, false},
                    GuardCase{"SpaceHeldDown", Press::SpaceOnAlways, false, true},
                    GuardCase{"EnterHeldDown", Press::EnterOnAlways, true, true}),
    testing::PrintToStringParamName());

TEST_F(PromptGuardTest, WhileInactiveAndRightAfterActivationAClickIsIgnored)
{
    ASSERT_NO_FATAL_FAILURE(OpenPage());
    ASSERT_NO_FATAL_FAILURE(StartPrompt());
    ASSERT_TRUE(AwaitInput());

    SetForegroundWindow(page_);
    if (!driver::WaitUntil([&] { return GetForegroundWindow() == page_; }, kTimeoutMs) && !driver::UnderWine())
        GTEST_SKIP() << "Windows' focus-stealing prevention kept the page from the front: the prompt's process was "
                        "in front, and only it or the user can bring another window there";
    ASSERT_EQ(GetForegroundWindow(), page_);
    driver::Click(prompt_, IDC_ALWAYS);
    ASSERT_TRUE(driver::Settle(prompt_));
    EXPECT_TRUE(CheckedChoices().empty());

    SetForegroundWindow(prompt_);
    ASSERT_TRUE(driver::WaitUntil([&] { return GetForegroundWindow() == prompt_; }, kTimeoutMs));
    driver::Click(prompt_, IDC_ALWAYS);
    ASSERT_TRUE(driver::Settle(prompt_));
    EXPECT_TRUE(CheckedChoices().empty());
    EXPECT_FALSE(driver::DecisionsKeyExists());

    inputCounts_ = false;
    ASSERT_NO_FATAL_FAILURE(Answer(IDC_ALWAYS));
    EXPECT_TRUE(PageBecomesTopmost());  // and so the answer is saved
    EXPECT_EQ(driver::ReadDecisionsKey(), (Key{{L"example.org", Dword(1)}}));
}

// ---- page-supplied text in the message ------------------------------------------

struct MessageCase {
    const char* name;
    std::wstring site, title;            // as the page gave them; the browser window carries the title
    std::wstring shownSite, shownTitle;  // as the prompt must show them; none: cut to fit
    const wchar_t* code = L"en";         // the interface language
    LANGID language = 1033;
};

std::ostream& operator<<(std::ostream& out, const MessageCase& c) { return out << c.name; }

const wchar_t kReplacement = 0xFFFD;

MessageCase Title(const char* name, const std::wstring& title, const std::wstring& shown)
{
    return {name, L"example.org", title, L"example.org", shown};
}

// A title of the given characters, each shown either as itself or replaced.
MessageCase Edges(const char* name, std::initializer_list<std::pair<wchar_t, bool>> characters)
{
    MessageCase edges = Title(name, L"", L"");
    for (const auto& [c, replaced] : characters) {
        edges.title += c;
        edges.shownTitle += replaced ? kReplacement : c;
    }
    return edges;
}

// ---- a message longer than its control has room for ------------------------------

const wchar_t kEllipsis = 0x2026;
const wchar_t kRegistrable[] = L"example.org";

// 113 characters, as a document's title in a web office suite can read.
const wchar_t kLongTitle[] =
    L"Quarterly results for the northern region (draft 17, shared with the finance team) - Example Office Online - Edit";

// A site of the given length (300 or more): numbered labels before
// example.org, so that a cut shows where it fell.
std::wstring LongSite(size_t length)
{
    std::wstring site;
    for (int label = 0; site.size() + 10 + 21 <= length; ++label)
        site += L"n" + std::to_wstring(100 + label) + L"abcde.";  // 10 characters a label
    site += std::wstring(length - site.size() - 20, L'w') + L".sub1234." + kRegistrable;
    return site;
}

// Whether the message control shows all of text, laid out as it lays it out:
// left-aligned and word-wrapped, a word too long for a line widening the text.
// Fonts do not cross processes, so it is measured in a font made as the dialog
// manager makes the template's (Microsoft Sans Serif, 10 point), held first to
// the control's size: the template's 251 x 28 dialog units in that font's units.
void ExpectFits(HWND control, const std::wstring& text)
{
    HDC screen = GetDC(nullptr);
    HFONT font = CreateFontW(-MulDiv(10, GetDeviceCaps(screen, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                             FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH, L"Microsoft Sans Serif");
    HGDIOBJ previous = SelectObject(screen, font);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(screen, &metrics);
    SIZE letters = {};
    GetTextExtentPoint32W(screen, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters);
    RECT room = {}, box = {};
    GetClientRect(control, &room);
    box.right = room.right;
    DrawTextW(screen, text.c_str(), -1, &box, DT_CALCRECT | DT_LEFT | DT_EXPANDTABS | DT_WORDBREAK);
    SelectObject(screen, previous);
    DeleteObject(font);
    ReleaseDC(nullptr, screen);
    ASSERT_EQ(room.right, MulDiv(251, (letters.cx / 26 + 1) / 2, 4)) << "the test's font is not the dialog's";
    ASSERT_EQ(room.bottom, MulDiv(28, metrics.tmHeight, 8)) << "the test's font is not the dialog's";
    EXPECT_LE(box.bottom, room.bottom) << string_tables::Narrow(text);
    EXPECT_LE(box.right, room.right) << string_tables::Narrow(text);
}

bool EndsWith(const std::wstring& text, const std::wstring& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// What may stand for the site: all of it, or "…" and whole labels from its end,
// the registrable part among them.
void ExpectShownSite(const std::wstring& shown, const std::wstring& site)
{
    if (shown == site)
        return;
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown[0], kEllipsis) << string_tables::Narrow(shown);
    std::wstring end = shown.substr(1);
    EXPECT_TRUE(EndsWith(site, end)) << string_tables::Narrow(shown);
    EXPECT_TRUE(EndsWith(end, kRegistrable)) << string_tables::Narrow(shown);
    ASSERT_LT(end.size(), site.size());
    EXPECT_EQ(site[site.size() - end.size() - 1], L'.') << "cut inside a label: " << string_tables::Narrow(shown);
}

// What may stand for the title: all of it, or its two ends around "…".
void ExpectShownTitle(const std::wstring& shown, const std::wstring& title)
{
    if (shown == title)
        return;
    size_t ellipsis = shown.find(kEllipsis);
    ASSERT_NE(ellipsis, std::wstring::npos) << string_tables::Narrow(shown);
    std::wstring head = shown.substr(0, ellipsis);
    std::wstring tail = shown.substr(ellipsis + 1);
    EXPECT_EQ(title.compare(0, head.size(), head), 0) << string_tables::Narrow(shown);
    EXPECT_TRUE(EndsWith(title, tail)) << string_tables::Narrow(shown);
    EXPECT_LT(head.size() + tail.size(), title.size());
}

// The message is shortened for the eye only: it fits its control, shows the
// site's end and the whole question.
void ExpectCutToFit(HWND prompt, const string_tables::StringTable& strings, const MessageCase& c)
{
    HWND control = GetDlgItem(prompt, IDC_MESSAGE);
    std::wstring shown = driver::Text(control);
    EXPECT_LE(shown.size(), kMessageLimit);
    ASSERT_NO_FATAL_FAILURE(ExpectFits(control, shown));

    // The format around its two placeholders: before, between and after them.
    const std::wstring& format = strings[IDS_PROMPT_MESSAGE];
    size_t first = format.find(L"%s"), second = format.find(L"%s", first + 2);
    std::wstring before = format.substr(0, first), after = format.substr(second + 2);
    std::wstring between = format.substr(first + 2, second - first - 2);
    ASSERT_EQ(shown.compare(0, before.size(), before), 0) << string_tables::Narrow(shown);
    ASSERT_TRUE(EndsWith(shown, after)) << "the question is lost: " << string_tables::Narrow(shown);
    std::wstring middle = shown.substr(before.size(), shown.size() - before.size() - after.size());
    size_t at = middle.find(between);
    ASSERT_NE(at, std::wstring::npos) << string_tables::Narrow(shown);
    ExpectShownSite(middle.substr(0, at), c.site);
    ExpectShownTitle(middle.substr(at + between.size()), c.title);
}

class PromptMessageTest : public PromptTest, public testing::WithParamInterface<MessageCase> {
protected:
    void SetUp() override
    {
        PromptTest::SetUp();
        if (GetParam().language != 1033)
            ASSERT_TRUE(SendHalvaneOnTheLocaleRoad());
    }
    void TearDown() override
    {
        PromptTest::TearDown();
        SendHalvaneOnTheDefaultRoad();
    }
};

// Made safe for the eye, or cut to fit; yet the keeper looks for the exact
// window, and the exact site is remembered.
TEST_P(PromptMessageTest, ShowsThePagesTextsSafelyWithinTheControlYetKeepsTheExactWindow)
{
    const MessageCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(OpenPage(c.title));
    ASSERT_EQ(StandInBrowser::Title(page_), c.title);
    const string_tables::StringTable& strings = string_tables::StringsOf(c.language);
    ASSERT_NO_FATAL_FAILURE(StartPrompt(std::wstring(c.code) + L" " + c.site + L" \"" + c.title + L"\"",
                                        strings[IDS_PROMPT_CAPTION].c_str()));
    const bool cut = c.shownSite.empty();
    if (cut)
        ASSERT_NO_FATAL_FAILURE(ExpectCutToFit(prompt_, strings, c));
    else
        EXPECT_EQ(driver::ItemText(prompt_, IDC_MESSAGE), EnglishMessage(c.shownSite, c.shownTitle));

    ASSERT_NO_FATAL_FAILURE(Answer(cut ? IDC_JUST_THIS_TIME : IDC_ALWAYS));
    EXPECT_TRUE(PageBecomesTopmost());
    if (!cut)
        EXPECT_EQ(driver::ReadDecisionsKey(), (Key{{c.site, Dword(1)}}));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PromptMessageTest,
    testing::Values(
        MessageCase{"FormatDirectives", L"a%s%n%d%x.example", L"100% %s %n %d %ls %p %%", L"a%s%n%d%x.example",
                    L"100% %s %n %d %ls %p %%"},
        // The message control takes a lone "&" for a mnemonic prefix: "AT&T" would
        // show as "ATT" with the T underlined. It must hold each one doubled.
        MessageCase{"Ampersands", L"a&b.example", L"AT&T && Co", L"a&&b.example", L"AT&&T &&&& Co"},
        // (\uFFFD is the replacement character.)
        MessageCase{"ControlCharactersInTheSite", L"bank\u202Egro.example\tx", L"My Page",
                    L"bank\uFFFDgro.example\uFFFDx", L"My Page"},
        Title("LineFeed", L"Bank login\nexample.org says OK", L"Bank login\uFFFDexample.org says OK"),
        Title("CarriageReturnLineFeed", L"Page\r\nMore", L"Page\uFFFD\uFFFDMore"),
        Title("RightToLeftOverride", L"Invoice \u202Efdp.exe", L"Invoice \uFFFDfdp.exe"),
        Title("RightToLeftMark", L"\u200FMy Page\u200F", L"\uFFFDMy Page\uFFFD"),
        // Every edge of the replaced ranges, next to neighbours that stay as they are.
        Edges("RangeEdges", {{0x01, true},    {0x1F, true},    {0x20, false},   {0x7E, false},  {0x7F, true},
                             {0x9F, true},    {0xA0, false},   {0x061B, false}, {0x061C, true}, {0x061D, false},
                             {0x200D, false}, {0x200E, true},  {0x200F, true},  {0x2010, false}, {0x2027, false},
                             {0x2028, true},  {0x2029, true},  {0x202A, true},  {0x202E, true}, {0x202F, false},
                             {0x2065, false}, {0x2066, true},  {0x2069, true},  {0x206A, false}}),
        MessageCase{"LongTitle", kRegistrable, kLongTitle, L"", L""},
        MessageCase{"LongTitleAndSite", LongSite(300), kLongTitle, L"", L""},
        MessageCase{"JapaneseLongTitleAndSite", LongSite(300), kLongTitle, L"", L"", L"ja", 1041},
        // Up to and beyond what the message buffer takes: the English format's
        // 108 characters, 11 of the site and 390 of the title fill its 509.
        MessageCase{"BufferFull", kRegistrable, Counting(390, L'0'), L"", L""},
        MessageCase{"TitleOverTheBuffer", kRegistrable, Counting(600, L'0'), L"", L""},
        MessageCase{"SiteOverTheBuffer", LongSite(600), L"My Page", L"", L""}),
    testing::PrintToStringParamName());


}  // namespace
