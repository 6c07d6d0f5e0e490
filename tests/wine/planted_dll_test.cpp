// A DLL planted beside halvane.exe never runs inside it. The program is copied
// into a folder of its own next to DLLs of ours under the names of system DLLs
// that are not known DLLs (planted_comctl32.c: it leaves a marker beside itself
// and ends the process with 77), and started with the load order Windows gives
// such a library, the program's folder first. Wine's loader takes that order
// from its own registry key for the program; the WINEDLLOVERRIDES variable
// would do the same, but a Windows process cannot hand it on to the processes
// it starts.
//
// The program has two defences: the DLL search kept to the system folder, and
// system DLLs loaded by full path. Each is also shown to hold alone, in a
// test-only build of the program with the other taken away (variants/).
#include "driver.h"
#include "language_roads.h"
#include "ui/resource_ids.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

const DWORD kTimeoutMs = driver::kPatienceMs;
const wchar_t kMarker[] = L"planted-dll-ran";
// The common controls, and what system DLLs load by name for the dialogs.
const wchar_t* const kPlanted[] = {L"comctl32", L"version", L"msimg32", L"uxtheme", L"dwmapi"};

class PlantedLibrary : public testing::Test {
protected:
    void SetUp() override
    {
        driver::DeleteDecisionsKey();
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"halvane-planted-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(driver::ProgramPath(source_).c_str(), Program().c_str(), FALSE));
        // The program's folder first, as Windows searches for a DLL it does not know.
        for (const wchar_t* name : kPlanted) {
            ASSERT_TRUE(CopyFileW(driver::ProgramPath(L"..\\planted\\comctl32.dll").c_str(),
                                  InFolder(std::wstring(name) + L".dll").c_str(), FALSE));
            ASSERT_TRUE(WriteAppDefault(L"\\DllOverrides", name, L"native,builtin"));
        }
    }
    void TearDown() override
    {
        SendHalvaneOnTheDefaultRoad();
        for (const wchar_t* name : kPlanted)
            DeleteFileW(InFolder(std::wstring(name) + L".dll").c_str());
        for (const wchar_t* name : {L"halvane.exe", kMarker})
            DeleteFileW(InFolder(name).c_str());
        RemoveDirectoryW(folder_.c_str());
        driver::DeleteDecisionsKey();
    }

    std::wstring InFolder(const std::wstring& name) const { return folder_ + L"\\" + name; }
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
    const wchar_t* source_ = L"halvane.exe";  // the build copied in as halvane.exe
};

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

// The program, and test-only builds of it with one defence taken away.
struct Defences {
    const char* name;
    const wchar_t* program;
};

void PrintTo(const Defences& defences, std::ostream* out)
{
    *out << defences.name;
}

class PlantedLibraryDefences : public PlantedLibrary, public testing::WithParamInterface<Defences> {
protected:
    void SetUp() override
    {
        source_ = GetParam().program;
        PlantedLibrary::SetUp();
    }
};

TEST_P(PlantedLibraryDefences, PreferencesOpensOnTheSystemsListView)
{
    driver::WriteDword(L"other.org", 1);
    driver::HalvaneDialog halvane(L"en", L"Halvane Preferences", Program());
    ASSERT_NE(halvane.dialog(), nullptr) << Ending(halvane.process());
    ExpectSystemSiteList(halvane.dialog());
    EXPECT_EQ(halvane.Close(), 0u);
    EXPECT_FALSE(PlantedRan());
}

// Without the search order, as on Windows XP, every system DLL the program or a
// system DLL loads by name would come from the program's folder: the full-path
// loads, the common controls and those preloaded before the first dialog, must
// keep every planted one out. With full paths gone, the search order alone must.
INSTANTIATE_TEST_SUITE_P(
    EachAlone, PlantedLibraryDefences,
    testing::Values(Defences{"both", L"halvane.exe"},
                    Defences{"full_paths_alone", L"halvane_test_without_search_order.exe"},
                    Defences{"search_order_alone", L"halvane_test_bare_names.exe"}),
    [](const testing::TestParamInfo<Defences>& info) { return std::string(info.param.name); });

TEST_F(PlantedLibrary, ThePromptOpensPreferencesOnTheSystemsListViewAndIsAnswered)
{
    driver::WriteDword(L"other.org", 1);
    driver::HalvaneDialog halvane(L"en site1 My Page", L"Halvane", Program());
    HWND prompt = halvane.dialog();
    ASSERT_NE(prompt, nullptr) << Ending(halvane.process());

    ASSERT_TRUE(driver::WaitUntilInputCounts(prompt, kTimeoutMs));
    driver::Click(prompt, IDC_PREFERENCES);
    HWND preferences = halvane.Await(L"Halvane Preferences");
    ASSERT_NE(preferences, nullptr) << Ending(halvane.process());
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
