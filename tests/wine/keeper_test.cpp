// KeepWindowOnTop against stand-in browser windows of this process, the keeper on a thread
// of its own (it blocks until the window is gone). Passes are a second apart.
#include "browser_windows.h"
#include "driver.h"
#include "keeper/keeper.h"
#include "text/system_case.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <utility>

namespace {

const wchar_t kUiClass[] = L"MozillaUIWindowClass";
const wchar_t kDialogClass[] = L"MozillaDialogClass";
const wchar_t kWindowClass[] = L"MozillaWindowClass";
const std::wstring kTitle = L"Quarterly Report - Stand-in";
const std::wstring kHiddenTitle = L"_" + kTitle;

// KeepWindowOnTop on a thread of its own (not copyable: its atomic). Declare it before the
// StandInBrowser, so that the windows close first and the keeper can return before it waits.
class KeeperRun {
public:
    ~KeeperRun()
    {
        if (!thread_)
            return;
        // A keeper that never returns would hang the whole test program.
        if (WaitForSingleObject(thread_, driver::kPatienceMs) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the keeper was still running at the end of the test";
            TerminateThread(thread_, 1);
        }
        CloseHandle(thread_);
    }

    void Start(const std::wstring& title)
    {
        title_ = title;
        thread_ = CreateThread(nullptr, 0, Main, this, 0, nullptr);
        ASSERT_NE(thread_, nullptr);
    }
    bool Returned(DWORD timeoutMs = driver::kPatienceMs) const
    {
        return WaitForSingleObject(thread_, timeoutMs) == WAIT_OBJECT_0;
    }
    // Whether the keeper is still at work spanMs after its thread began: timed
    // from its own start, which under load can come long after Start().
    bool StillKeepingAfter(DWORD spanMs) const
    {
        if (!driver::WaitUntil([&] { return began_ != 0; }))
            return false;
        DWORD elapsed = GetTickCount() - began_;
        return !Returned(elapsed < spanMs ? spanMs - elapsed : 0);
    }

private:
    static DWORD WINAPI Main(void* param)
    {
        auto* self = static_cast<KeeperRun*>(param);
        self->began_ = GetTickCount() | 1;  // never 0, which means "not yet"
        KeepWindowOnTop(self->title_.c_str());
        return 0;
    }
    std::wstring title_;
    HANDLE thread_ = nullptr;
    std::atomic<DWORD> began_{0};
};

using driver::Raised;
using driver::WaitLowered;
using driver::WaitRaised;

// One keeper and one stand-in browser, in this order (see KeeperRun).
struct Keeper : testing::Test {
    KeeperRun keeper;
    StandInBrowser browser;
};

// What a retitle between the two searches of a pass does: the browser puts the
// plain title back just after the keeper searched for it in vain, and before it
// searches for the "_" title. The keeper's own hook on its searches places the
// retitle there, on the keeper's thread, so no timing takes part.
struct RetitleBetweenSearches {
    StandInBrowser* browser = nullptr;
    HWND window = nullptr;
    std::wstring title;         // the plain title, as the keeper asks for it
    std::wstring shown;         // the plain title the window is given
    std::atomic<bool> armed{false}, done{false};
};
RetitleBetweenSearches retitle;

void RetitleAfterAMiss(const wchar_t* className, const wchar_t* title, bool found)
{
    if (!found && retitle.armed && retitle.title == title && std::wstring(className) == kWindowClass) {
        retitle.armed = false;
        retitle.browser->Retitle(retitle.window, retitle.shown);
        retitle.done = true;
    }
}

// The window escapes both searches though it never stops being there, on the
// first pass as on any other; the keeper must keep it, matching the title by
// the searches' case rule.
TEST_F(Keeper, AWindowRetitledBetweenTheTwoSearchesOfAPassIsStillKept)
{
    struct Hook {
        Hook() { KeeperSearched = RetitleAfterAMiss; }
        ~Hook() { KeeperSearched = nullptr; }
    } hook;
    for (bool firstPass : {true, false}) {
        for (const std::wstring& asked : {kTitle, std::wstring(L"quarterly REPORT - stand-in")}) {
            SCOPED_TRACE(testing::PrintToString(asked) + (firstPass ? " on the first pass" : " on a later pass"));
            KeeperRun run;
            HWND window = browser.Open(kWindowClass, firstPass ? kHiddenTitle : kTitle);
            ASSERT_NE(window, nullptr);
            retitle.browser = &browser;
            retitle.window = window;
            retitle.title = asked;
            retitle.shown = kTitle;
            retitle.done = false;
            retitle.armed = firstPass;
            run.Start(asked);
            if (!firstPass) {
                ASSERT_TRUE(WaitRaised(window));
                browser.Retitle(window, kHiddenTitle);
                ASSERT_TRUE(WaitLowered(window));
                retitle.armed = true;
            }
            driver::WaitUntil([&] { return Raised(window) || run.Returned(0); });
            EXPECT_TRUE(retitle.done) << "no search for the plain title missed";
            EXPECT_FALSE(run.Returned(0)) << "the keeper ended with the window still there";
            EXPECT_TRUE(Raised(window)) << "the keeper lost the window retitled between its searches";
            retitle.armed = false;
            browser.Close(window);
            EXPECT_TRUE(run.Returned());
        }
    }
}

// A title that begins with an underscore of its own is hidden by two.
TEST_F(Keeper, TheTitleSteersAHiddenWindowWhereItIsUntilItCloses)
{
    const std::wstring title = L"_draft", hiddenTitle = L"__draft";
    HWND window = browser.Open(kUiClass, title, /*visible=*/false);
    ASSERT_NE(window, nullptr);
    RECT before = driver::WindowRect(window);
    keeper.Start(title);
    ASSERT_TRUE(WaitRaised(window)) << "the plain title raises the window and shows it";
    RECT after = driver::WindowRect(window);
    EXPECT_TRUE(EqualRect(&after, &before)) << "the keeper moved or sized the window";

    browser.Retitle(window, hiddenTitle);
    EXPECT_TRUE(WaitLowered(window)) << "the underscore title takes it out of the topmost band and hides it";

    browser.Retitle(window, title);
    EXPECT_TRUE(WaitRaised(window)) << "the plain title brings it back";

    browser.Retitle(window, hiddenTitle);
    ASSERT_TRUE(WaitLowered(window));
    EXPECT_FALSE(keeper.Returned(0)) << "a hidden window is still being kept";
    browser.Close(window);
    EXPECT_TRUE(keeper.Returned()) << "closing the window ends the keeper";
}

// The page retitling itself or the extension letting go: the window leaves
// the topmost band as the keeper ends, and stays shown.
TEST_F(Keeper, AThirdTitleEndsTheKeeperAndTheWindowIsNoLongerTopmost)
{
    HWND window = browser.Open(kWindowClass, kTitle);
    keeper.Start(kTitle);
    ASSERT_TRUE(WaitRaised(window));

    browser.Retitle(window, L"Another Page");
    ASSERT_TRUE(keeper.Returned());
    EXPECT_FALSE(StandInBrowser::IsTopmost(window));
    EXPECT_TRUE(StandInBrowser::IsVisible(window));
}

// Found first under the underscore title, the window is kept (the keeper goes
// on) but, not being topmost, is left shown.
TEST_F(Keeper, AWindowFirstFoundUnderTheUnderscoreTitleIsKeptButNotHidden)
{
    HWND window = browser.Open(kUiClass, kHiddenTitle);
    keeper.Start(kTitle);
    // Past its first pass and half-way to its second.
    EXPECT_TRUE(keeper.StillKeepingAfter(1500)) << "the keeper gave up on a window it had found";
    EXPECT_TRUE(StandInBrowser::IsVisible(window));
    EXPECT_FALSE(StandInBrowser::IsTopmost(window));

    browser.Retitle(window, kTitle);
    EXPECT_TRUE(WaitRaised(window));
}

// The first pass settles on the class it found the window in; a same-titled
// window of an earlier class that turns up later is never looked at.
TEST_F(Keeper, TheClassFoundFirstIsTheOnlyOneWatchedFromThenOn)
{
    HWND dialogWindow = browser.Open(kDialogClass, kTitle);
    keeper.Start(kTitle);
    ASSERT_TRUE(WaitRaised(dialogWindow));

    HWND uiWindow = browser.Open(kUiClass, kTitle);
    browser.Close(dialogWindow);
    EXPECT_TRUE(keeper.Returned()) << "the keeper went on with a window of another class";
    EXPECT_FALSE(StandInBrowser::IsTopmost(uiWindow));
}

// Each class is kept, and let go when its window closes: the UI class above, the
// dialog class before, the window class here.
TEST_F(Keeper, WithinTheClassThePlainTitleWinsOverTheUnderscoreTitle)
{
    HWND plain = browser.Open(kWindowClass, kTitle);
    HWND prefixed = browser.Open(kWindowClass, kHiddenTitle);
    SetWindowPos(prefixed, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ASSERT_TRUE(Raised(prefixed));

    keeper.Start(kTitle);
    ASSERT_TRUE(WaitRaised(plain));
    EXPECT_TRUE(Raised(prefixed)) << "the underscore window was acted on while the plain one exists";

    // With the plain window gone the underscore one is the window being kept.
    browser.Close(plain);
    EXPECT_TRUE(WaitLowered(prefixed));
    browser.Close(prefixed);
    EXPECT_TRUE(keeper.Returned());
}

TEST_F(Keeper, WithoutABrowserWindowOfThatTitleTheKeeperReturnsAndTouchesNothing)
{
    HWND otherTitle = browser.Open(kUiClass, L"Some Other Page", /*visible=*/false);
    HWND longerTitle = browser.Open(kWindowClass, kTitle + L" (2)", /*visible=*/false);
    HWND doublePrefix = browser.Open(kDialogClass, L"__" + kTitle, /*visible=*/false);
    HWND notBrowser = browser.Open(L"Static", kTitle, /*visible=*/false);
    ASSERT_NE(notBrowser, nullptr);

    keeper.Start(kTitle);
    ASSERT_TRUE(keeper.Returned());
    for (HWND window : {otherTitle, longerTitle, doublePrefix, notBrowser}) {
        EXPECT_FALSE(StandInBrowser::IsTopmost(window)) << testing::PrintToString(StandInBrowser::Title(window));
        EXPECT_FALSE(StandInBrowser::IsVisible(window)) << testing::PrintToString(StandInBrowser::Title(window));
    }
}

// The keeper's look at every window matches titles by the system's case rule,
// and must agree with FindWindowW, whose searches it stands in for: a window is
// found under a title exactly when the rule makes the two titles equal. Under
// Wine both come from one table; Windows is where this shows.
TEST_F(Keeper, TitlesMatchByTheCaseRuleOfFindWindow)
{
    // Latin-1; sharp s, which has no single upper-case letter, and its capital; Turkish
    // dotless and dotted I; Greek sigma's two forms; a digraph's three cases; Roman
    // numerals; full width; Armenian; Cherokee, whose lower case came with Unicode 8.
    const std::pair<std::wstring, std::wstring> titles[] = {
        {L"Page \u00E4", L"PAGE \u00C4"}, {L"stra\u00DFe", L"STRASSE"}, {L"\u1E9E", L"\u00DF"}, {L"\u0131", L"I"},
        {L"i", L"\u0130"}, {L"\u03C3\u03C2", L"\u03A3\u03A3"}, {L"\u01C6\u01C5", L"\u01C4\u01C4"},
        {L"\u2170", L"\u2160"}, {L"\uFF41", L"\uFF21"}, {L"\u0561", L"\u0531"}, {L"\u13F8", L"\u13F0"}};
    for (const auto& [shown, asked] : titles) {
        SCOPED_TRACE(testing::PrintToString(shown) + " asked as " + testing::PrintToString(asked));
        HWND window = browser.Open(kWindowClass, shown, /*visible=*/false);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(FindWindowW(kWindowClass, asked.c_str()) == window,
                  EqualAfterFold(shown.c_str(), asked.c_str(), SystemCaseFold()));
        browser.Close(window);
    }
}

}  // namespace
