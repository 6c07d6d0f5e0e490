// A DLL planted beside halvane.exe never runs inside it. The program is copied
// into a folder of its own next to a comctl32.dll of ours (planted_comctl32.c:
// it leaves a marker beside itself and ends the process with 77), and started
// with the load order Windows gives a library that is not a known DLL, the
// program's folder first. Wine's loader takes that order from its own registry
// key for the program; the WINEDLLOVERRIDES variable would do the same, but a
// Windows process cannot hand it on to the processes it starts.
#include "driver.h"
#include "ui/resource_ids.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

const DWORD kTimeoutMs = 10000;
const wchar_t kMarker[] = L"planted-dll-ran";
const wchar_t kProgramDefaults[] = L"Software\\Wine\\AppDefaults\\halvane.exe";

class PlantedLibrary : public testing::Test {
protected:
    void SetUp() override
    {
        driver::DeleteDecisionsKey();
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"halvane-planted-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(driver::ProgramPath().c_str(), Program().c_str(), FALSE));
        ASSERT_TRUE(CopyFileW(driver::ProgramPath(L"..\\planted\\comctl32.dll").c_str(),
                              InFolder(L"comctl32.dll").c_str(), FALSE));
        // The program's folder first, as Windows searches for a DLL it does not know.
        HKEY overrides;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kProgramDefaults) + L"\\DllOverrides").c_str(), 0,
                                  nullptr, 0, KEY_SET_VALUE, nullptr, &overrides, nullptr),
                  ERROR_SUCCESS);
        const wchar_t order[] = L"native,builtin";
        RegSetValueExW(overrides, L"comctl32", 0, REG_SZ, reinterpret_cast<const BYTE*>(order), sizeof(order));
        RegCloseKey(overrides);
    }
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, kProgramDefaults);
        for (const wchar_t* name : {L"halvane.exe", L"comctl32.dll", kMarker})
            DeleteFileW(InFolder(name).c_str());
        RemoveDirectoryW(folder_.c_str());
        driver::DeleteDecisionsKey();
    }

    std::wstring InFolder(const wchar_t* name) const { return folder_ + L"\\" + name; }
    std::wstring Program() const { return InFolder(L"halvane.exe"); }
    bool PlantedRan() const { return GetFileAttributesW(InFolder(kMarker).c_str()) != INVALID_FILE_ATTRIBUTES; }

    // How a copy that showed no dialog ended, for the failure message.
    std::string Ending(const driver::ScopedProcess& halvane) const
    {
        std::ostringstream text;
        text << "halvane.exe exit code " << halvane.WaitForExit(0)
             << (PlantedRan() ? ", the planted DLL ran" : ", the planted DLL did not run");
        return text.str();
    }

    std::wstring folder_;
};

// Waits for the dialog with that caption, but no longer than the copy lives.
HWND WaitForDialogOf(const driver::ScopedProcess& halvane, const wchar_t* caption)
{
    HWND dialog = nullptr;
    driver::WaitUntil(
        [&] {
            dialog = driver::WaitForDialog(halvane.id(), 0, caption);
            return dialog || halvane.WaitForExit(0) != STILL_ACTIVE;
        },
        kTimeoutMs);
    return dialog;
}

// The system's list view: its class, and its header and rows read back across
// the process boundary.
void ExpectSystemSiteList(HWND preferences)
{
    HWND list = GetDlgItem(preferences, IDC_SITE_LIST);
    EXPECT_EQ(driver::ClassName(list), L"SysListView32");
    EXPECT_EQ(driver::ListColumns(list), (std::vector<std::wstring>{L"Domain", L"Halvane"}));
    ASSERT_EQ(driver::ListCount(list), 1);
    EXPECT_EQ(driver::ListText(list, 0, 0), L"other.org");
    EXPECT_EQ(driver::ListText(list, 0, 1), L"Allow");
}

TEST_F(PlantedLibrary, PreferencesOpensOnTheSystemsListView)
{
    driver::WriteDword(L"other.org", 1);
    driver::ScopedProcess halvane(driver::Launch(L"en", Program()));
    HWND preferences = WaitForDialogOf(halvane, L"Halvane Preferences");
    ASSERT_NE(preferences, nullptr) << Ending(halvane);
    ExpectSystemSiteList(preferences);

    driver::Click(preferences, IDCANCEL);
    EXPECT_EQ(halvane.WaitForExit(kTimeoutMs), 0u);
    EXPECT_FALSE(PlantedRan());
}

TEST_F(PlantedLibrary, ThePromptOpensPreferencesOnTheSystemsListViewAndIsAnswered)
{
    driver::WriteDword(L"other.org", 1);
    driver::ScopedProcess halvane(driver::Launch(L"en site1 My Page", Program()));
    HWND prompt = WaitForDialogOf(halvane, L"Halvane");
    ASSERT_NE(prompt, nullptr) << Ending(halvane);

    ASSERT_TRUE(driver::WaitUntilInputCounts(prompt, kTimeoutMs));
    driver::Click(prompt, IDC_PREFERENCES);
    HWND preferences = WaitForDialogOf(halvane, L"Halvane Preferences");
    ASSERT_NE(preferences, nullptr) << Ending(halvane);
    ExpectSystemSiteList(preferences);
    driver::Click(preferences, IDCANCEL);
    ASSERT_TRUE(driver::WaitForDialogGone(preferences, kTimeoutMs));

    ASSERT_TRUE(driver::WaitUntilInputCounts(prompt, kTimeoutMs));
    driver::Click(prompt, IDC_NEVER);
    ASSERT_TRUE(driver::WaitUntil([&] { return driver::IsEnabled(prompt, IDOK); }, kTimeoutMs));
    driver::Click(prompt, IDOK);
    EXPECT_EQ(halvane.WaitForExit(kTimeoutMs), 0u);
    EXPECT_EQ(driver::ReadDecisionsKey(),
              (driver::KeyContents{{L"other.org", driver::Dword(1)}, {L"site1", driver::Dword(0)}}));
    EXPECT_FALSE(PlantedRan());
}

}  // namespace
