// The start-up flow end to end: the real halvane.exe against stand-in browser windows of
// this process, the decision key read and written from here.
#include "browser_windows.h"
#include "driver.h"
#include "ui/resource_ids.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using driver::kPatienceMs;
const wchar_t kBrowserClass[] = L"MozillaWindowClass";
const std::wstring kTitle = L"My Page";
const std::wstring kRequest = L"en site1 " + kTitle;
using Contents = driver::KeyContents;
using driver::WaitLowered;
using driver::WaitRaised;

// The exit code of a start that must end by itself.
DWORD ExitCodeOf(const std::wstring& tail)
{
    driver::ScopedProcess halvane(driver::Launch(tail));
    return halvane.WaitForExit(kPatienceMs);
}

// Starts halvane.exe (with that show command, unless -1), tells its dialog by a control,
// cancels it and expects the exit code 0.
void CancelDialogOf(const std::wstring& tail, int controlId, const char* otherwise, int showCommand = -1)
{
    driver::HalvaneDialog halvane(tail, nullptr, driver::ProgramPath(), showCommand);
    ASSERT_NE(halvane.dialog(), nullptr);
    EXPECT_NE(GetDlgItem(halvane.dialog(), controlId), nullptr) << otherwise;
    EXPECT_EQ(halvane.Close(), 0u);
}

struct Startup : testing::Test {
    void SetUp() override { driver::DeleteDecisionsKey(); }
    void TearDown() override { driver::DeleteDecisionsKey(); }
};

// The empty tail is answered before the guard and the registry: with the mutex taken, as a
// running copy would hold it, any other start ends with 0.
TEST_F(Startup, AnEmptyTailEndsWithMinusOneBeforeTheGuardAndTheRegistry)
{
    std::unique_ptr<void, decltype(&CloseHandle)> guard(CreateMutexW(nullptr, FALSE, L"HalvaneExe"), CloseHandle);
    ASSERT_NE(guard, nullptr);
    for (const wchar_t* tail : {L"", L"   "}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(tail)));
        EXPECT_EQ(ExitCodeOf(tail), DWORD(-1));
    }
    EXPECT_FALSE(driver::DecisionsKeyExists());
    EXPECT_EQ(ExitCodeOf(L"en"), 0u) << "the held guard should stop a non-empty start";
}

// A modal dialog would keep the process alive, so ending with -2 in time also
// shows that nothing was opened.
TEST_F(Startup, TwoValuesEndWithMinusTwoWithoutAWindow)
{
    driver::WriteDword(L"site1", 1);
    for (const wchar_t* tail : {L"en site1", L"\"en\" \"site1\"", L"EN Site1"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(tail)));
        EXPECT_EQ(ExitCodeOf(tail), DWORD(-2));
    }
    EXPECT_EQ(driver::ReadDecisionsKey(), (Contents{{L"site1", {REG_DWORD, {1, 0, 0, 0}}}}));
}

// 0 is Deny; any value other than Allow (1) and "no decision" (-1) acts like it.
TEST_F(Startup, ARememberedDenyEndsAtOnceWithoutADialog)
{
    StandInBrowser browser;
    HWND window = browser.Open(kBrowserClass, kTitle);
    for (DWORD stored : {0u, 5u, 0x80000000u}) {
        SCOPED_TRACE(stored);
        driver::DeleteDecisionsKey();
        driver::WriteDword(L"site1", stored);
        Contents before = driver::ReadDecisionsKey();

        // A prompt would be modal: the process could not end while it is up.
        EXPECT_EQ(ExitCodeOf(kRequest), 0u);
        EXPECT_FALSE(StandInBrowser::IsTopmost(window));
        EXPECT_EQ(driver::ReadDecisionsKey(), before);
    }
}

TEST_F(Startup, ARememberedAllowKeepsTheWindowOnTopUntilItClosesAndSavesNothing)
{
    // Junk that any save would remove, next to the decision itself.
    driver::WriteDword(L"Site1", 1);
    driver::WriteDword(L"", 1);
    driver::WriteRaw(L"eightbytes", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
    driver::WriteDword(std::wstring(300, L'x'), 0);
    Contents before = driver::ReadDecisionsKey();

    StandInBrowser browser;
    HWND window = browser.Open(kBrowserClass, kTitle, /*visible=*/false);
    driver::ScopedProcess halvane(driver::Launch(L"EN SITE1 " + kTitle));

    ASSERT_TRUE(WaitRaised(window));
    EXPECT_TRUE(driver::DialogsOf(halvane.id()).empty()) << "a remembered Allow asks nothing";

    browser.Retitle(window, L"_" + kTitle);
    EXPECT_TRUE(WaitLowered(window));
    browser.Retitle(window, kTitle);
    EXPECT_TRUE(WaitRaised(window));
    EXPECT_EQ(halvane.WaitForExit(0), STILL_ACTIVE);

    browser.Close(window);
    EXPECT_EQ(halvane.WaitForExit(kPatienceMs), 0u);
    EXPECT_EQ(driver::ReadDecisionsKey(), before);
}

TEST_F(Startup, ASecondStartWhileOneKeepsAWindowEndsAtOnce)
{
    driver::WriteDword(L"site1", 1);
    driver::WriteDword(L"site2", 1);
    StandInBrowser browser;
    const std::wstring title = L"Two  Spaces";  // a quoted title keeps its inner spaces
    HWND window = browser.Open(kBrowserClass, title);
    HWND other = browser.Open(kBrowserClass, L"Other Page");
    driver::ScopedProcess first(driver::Launch(L"\"en\" \"site1\" \"Two  Spaces\""));
    ASSERT_TRUE(WaitRaised(window));

    // The guard comes before parsing: even a malformed or language-only tail ends with 0.
    for (const wchar_t* tail : {L"en site2 Other Page", L"en site3 Third Page", L"en", L"en site1"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(tail)));
        EXPECT_EQ(ExitCodeOf(tail), 0u);
    }
    EXPECT_FALSE(StandInBrowser::IsTopmost(other));

    EXPECT_EQ(first.WaitForExit(0), STILL_ACTIVE);
    browser.Retitle(window, L"_" + title);
    EXPECT_TRUE(WaitLowered(window)) << "the first copy should go on keeping its window";
    browser.Close(window);
    EXPECT_EQ(first.WaitForExit(kPatienceMs), 0u);
}

TEST_F(Startup, ASecondStartWhileADialogIsOpenEndsAtOnce)
{
    driver::WriteDword(L"site1", 1);
    StandInBrowser browser;
    HWND window = browser.Open(kBrowserClass, kTitle);
    driver::ScopedProcess first(driver::Launch(L"en"));
    HWND dialog = driver::WaitForDialog(first.id());
    ASSERT_NE(dialog, nullptr);
    ASSERT_NE(GetDlgItem(dialog, IDC_SITE_LIST), nullptr);

    driver::ScopedProcess second(driver::Launch(kRequest));
    EXPECT_EQ(second.WaitForExit(kPatienceMs), 0u);
    EXPECT_FALSE(StandInBrowser::IsTopmost(window)) << "the second copy acted on its request";

    EXPECT_TRUE(IsWindowVisible(dialog));
    driver::Click(dialog, IDCANCEL);
    EXPECT_EQ(first.WaitForExit(kPatienceMs), 0u);
}

// Helpers are often started with SW_HIDE, which Windows applies to the first ShowWindow: a
// hidden dialog would hold the guard for good. Wine shows it anyway: these guard a regression.
TEST_F(Startup, TheLanguageCodeAloneOpensPreferences)
{
    const struct { const wchar_t* tail; int showCommand; } starts[] = {{L"en", -1}, {L"en ", -1}, {L"\"fr\" ", SW_HIDE}};
    for (const auto& start : starts) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(start.tail)));
        ASSERT_NO_FATAL_FAILURE(
            CancelDialogOf(start.tail, IDC_SITE_LIST, "not the Preferences dialog", start.showCommand));
        EXPECT_FALSE(driver::DecisionsKeyExists()) << "a cancelled Preferences dialog saves nothing";
    }
}

// -1 (all bits set) reads as "no decision", the same as a site never seen.
TEST_F(Startup, AStoredMinusOneLeadsToThePrompt)
{
    StandInBrowser browser;
    HWND window = browser.Open(kBrowserClass, kTitle);
    for (bool stored : {true, false}) {
        SCOPED_TRACE(stored ? "site1 = FF FF FF FF" : "no entry for site1, a hidden start");
        driver::DeleteDecisionsKey();
        if (stored)
            driver::WriteRaw(L"site1", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF});
        Contents before = driver::ReadDecisionsKey();

        ASSERT_NO_FATAL_FAILURE(
            CancelDialogOf(kRequest, IDC_ALWAYS, "not the consent prompt", stored ? -1 : SW_HIDE));
        EXPECT_FALSE(StandInBrowser::IsTopmost(window)) << "a cancelled prompt keeps nothing on top";
        EXPECT_EQ(driver::ReadDecisionsKey(), before) << "a cancelled prompt stores nothing";
    }
}

}  // namespace
