// The administrators' policy end to end: the real halvane.exe against a
// stand-in browser window, with policy written as Group Policy writes it (the
// key under HKLM and HKCU, each list a subkey of REG_SZ values "1", "2", ...,
// the default a REG_DWORD).
//
// Group Policy's client writes the registry's native view. The test writes it
// with KEY_WOW64_64KEY, so the 32-bit build of this test writes where Windows'
// own client would, and a 32-bit halvane.exe has to find it there. Wine (8)
// keeps HKLM\Software\Policies as one key for both views (its
// Software\Wow6432Node\Policies shows the same values), as Windows does from
// 7 on; XP x64 and Vista redirect it for 32-bit programs, where only the flag
// halvane.exe asks with reaches the machine's policy. So under Wine this
// proves the flag harmless and the reading right, not the redirection.
//
// On Windows only an administrator can write these keys: run without one, the
// tests skip. Policy already on the machine is never touched: the tests skip
// then too, and remove only keys that carry their own mark.
#include "browser_windows.h"
#include "driver.h"
#include "language_roads.h"
#include "policy/policy_keys.h"
#include "string_tables.h"
#include "ui/resource_ids.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using driver::kPatienceMs;
using Contents = driver::KeyContents;
const wchar_t kBrowserClass[] = L"MozillaWindowClass";
const std::wstring kTitle = L"Support Call";
const std::wstring kRequest = L"en call.example.com " + kTitle;
const wchar_t kSite[] = L"call.example.com";
const REGSAM kNativeView = KEY_WOW64_64KEY;
// Marks a policy key as this test's, so that nothing else is ever removed.
const wchar_t kTestMark[] = L"WrittenByHalvaneTests";

// A list value: a string as Group Policy writes, or a DWORD no list should hold.
struct ListValue {
    std::wstring text;
    bool asDword = false;
};

// What one root's policy key holds; nothing at all when absent.
struct RootPolicy {
    bool present = false;
    std::vector<ListValue> allowed, blocked;
    std::optional<DWORD> defaultDecision;
};

RootPolicy Key(std::vector<ListValue> allowed, std::vector<ListValue> blocked = {},
               std::optional<DWORD> defaultDecision = std::nullopt)
{
    return {true, std::move(allowed), std::move(blocked), defaultDecision};
}

HKEY OpenPolicyKey(HKEY root)
{
    HKEY key = nullptr;
    return RegOpenKeyExW(root, POLICY_KEY_PATH, 0, KEY_ALL_ACCESS | kNativeView, &key) == ERROR_SUCCESS ? key : nullptr;
}

bool Marked(HKEY key)
{
    return RegQueryValueExW(key, kTestMark, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// Removes this test's key of a root; false when the root holds policy of someone else's.
bool RemoveTestPolicy(HKEY root)
{
    HKEY key = OpenPolicyKey(root);
    if (!key)
        return RegOpenKeyExW(root, POLICY_KEY_PATH, 0, KEY_READ | kNativeView, &key) != ERROR_SUCCESS;
    bool ours = Marked(key);
    if (ours) {
        RegDeleteKeyExW(key, POLICY_ALLOWED_SITES, kNativeView, 0);
        RegDeleteKeyExW(key, POLICY_BLOCKED_SITES, kNativeView, 0);
    }
    RegCloseKey(key);
    if (ours) {
        RegDeleteKeyExW(root, POLICY_KEY_PATH, kNativeView, 0);
        RegDeleteKeyExW(root, L"Software\\Policies\\Marrowin", kNativeView, 0);  // only if nothing else is in it
    }
    return ours;
}

void WriteList(HKEY policy, const wchar_t* name, const std::vector<ListValue>& values)
{
    if (values.empty())
        return;
    HKEY list = nullptr;
    ASSERT_EQ(RegCreateKeyExW(policy, name, 0, nullptr, 0, KEY_ALL_ACCESS | kNativeView, nullptr, &list, nullptr),
              ERROR_SUCCESS);
    for (size_t i = 0; i < values.size(); ++i) {
        const std::wstring number = std::to_wstring(i + 1);
        DWORD dword = 5;
        const ListValue& value = values[i];
        if (value.asDword)
            RegSetValueExW(list, number.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), sizeof(dword));
        else
            RegSetValueExW(list, number.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.text.c_str()),
                           DWORD((value.text.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(list);
}

// False when the root cannot be written (Windows without an administrator).
bool WritePolicy(HKEY root, const RootPolicy& policy)
{
    if (!policy.present)
        return true;
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, POLICY_KEY_PATH, 0, nullptr, 0, KEY_ALL_ACCESS | kNativeView, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    DWORD one = 1;
    RegSetValueExW(key, kTestMark, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
    WriteList(key, POLICY_ALLOWED_SITES, policy.allowed);
    WriteList(key, POLICY_BLOCKED_SITES, policy.blocked);
    if (policy.defaultDecision) {
        DWORD value = *policy.defaultDecision;
        RegSetValueExW(key, POLICY_DEFAULT_DECISION, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    }
    RegCloseKey(key);
    return true;
}

class Policy : public testing::Test {
protected:
    void SetUp() override
    {
        driver::DeleteDecisionsKey();
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            RemoveTestPolicy(root);
            HKEY key = nullptr;
            if (RegOpenKeyExW(root, POLICY_KEY_PATH, 0, KEY_READ | kNativeView, &key) == ERROR_SUCCESS) {
                RegCloseKey(key);
                GTEST_SKIP() << "this machine has Halvane policy of its own; it is left as it is";
            }
        }
    }
    void TearDown() override
    {
        SendHalvaneOnTheDefaultRoad();
        RemoveTestPolicy(HKEY_LOCAL_MACHINE);
        RemoveTestPolicy(HKEY_CURRENT_USER);
        driver::DeleteDecisionsKey();
    }

    // Skips the test when policy cannot be written here.
    bool Write(const RootPolicy& machine, const RootPolicy& user)
    {
        if (WritePolicy(HKEY_LOCAL_MACHINE, machine) && WritePolicy(HKEY_CURRENT_USER, user))
            return true;
        return false;
    }
};

enum Expected { Kept, Declined, Asked };

const char* Name(Expected expected)
{
    return expected == Kept ? "kept" : expected == Declined ? "declined" : "asked";
}

// Starts the request and checks what came of it: kept with no dialog, ended at
// once with nothing kept (a prompt would be modal and hold the process), or the
// prompt (cancelled). The exit code is 0 whichever.
void ExpectRequest(Expected expected)
{
    StandInBrowser browser;
    HWND window = browser.Open(kBrowserClass, kTitle);
    switch (expected) {
    case Kept: {
        driver::ScopedProcess halvane(driver::Launch(kRequest));
        ASSERT_TRUE(driver::WaitRaised(window));
        EXPECT_TRUE(driver::DialogsOf(halvane.id()).empty()) << "kept without asking";
        browser.Close(window);
        EXPECT_EQ(halvane.WaitForExit(kPatienceMs), 0u);
        break;
    }
    case Declined: {
        driver::ScopedProcess halvane(driver::Launch(kRequest));
        EXPECT_EQ(halvane.WaitForExit(kPatienceMs), 0u);
        EXPECT_FALSE(StandInBrowser::IsTopmost(window));
        break;
    }
    case Asked: {
        driver::HalvaneDialog halvane(kRequest);
        ASSERT_NE(halvane.dialog(), nullptr);
        EXPECT_NE(GetDlgItem(halvane.dialog(), IDC_ALWAYS), nullptr) << "not the prompt";
        EXPECT_EQ(halvane.Close(), 0u);
        EXPECT_FALSE(StandInBrowser::IsTopmost(window));
        break;
    }
    }
}

// Policy first (blocked, then allowed), then the user's own decision, then the
// default; the machine's value over the user's, value by value. Whatever
// policy decides, the user's own decisions stay exactly as they were.
TEST_F(Policy, DecidesBeforeTheUsersOwnDecisionWithoutAPromptAndNeverStoresAnything)
{
    const std::optional<DWORD> none;
    const struct {
        const char* name;
        RootPolicy machine, user;
        std::optional<DWORD> stored;  // the user's own decision for the site
        Expected expected;
    } rows[] = {
        {"allowed by the machine's list", Key({{L"[*.]example.com"}}), {}, none, Kept},
        {"allowed by the user's policy key", {}, Key({{L"call.example.com"}}), none, Kept},
        {"allowed by policy over the user's Deny", Key({{L"call.example.com"}}), {}, 0, Kept},
        {"blocked by the machine over the user's Allow", Key({}, {{L"call.example.com"}}), {}, 1, Declined},
        {"blocked by the user's policy key", {}, Key({}, {{L"[*.]example.com"}}), none, Declined},
        {"blocked: the more specific entry wins", Key({{L"[*.]example.com"}}, {{L"CALL.example.com"}}), {}, none,
         Declined},
        {"allowed: the more specific entry wins", Key({{L"call.example.com"}}, {{L"[*.]example.com"}}), {}, none,
         Kept},
        {"the machine's list replaces the user's", Key({{L"other.example.org"}}), Key({{L"call.example.com"}}), none,
         Asked},
        {"the machine's allowed list, the user's blocked list", Key({{L"[*.]example.com"}}),
         Key({}, {{L"call.example.com"}}), none, Declined},
        {"never ask, nothing of the user's", Key({}, {}, 2), {}, none, Declined},
        {"never ask, the user's own Allow", Key({}, {}, 2), {}, 1, Kept},
        {"never ask, the user's own Deny", Key({}, {}, 2), {}, 0, Declined},
        {"never ask from the user's key, the machine's asks", Key({}, {}, 3), Key({}, {}, 2), none, Asked},
        {"an unknown default asks", Key({}, {}, 7), {}, none, Asked},
        {"bad entries are ignored", Key({{L"not a host"}, {L"https://call.example.com"}, {L"", true}, {L"*.example.com"}}),
         {}, none, Asked},
        {"empty policy keys: the user's Allow", Key({}), Key({}), 1, Kept},
        {"empty policy keys: the user's Deny", Key({}), Key({}), 0, Declined},
        {"empty policy keys: asked", Key({}), Key({}), none, Asked},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.name) + ": " + Name(row.expected));
        RemoveTestPolicy(HKEY_LOCAL_MACHINE);
        RemoveTestPolicy(HKEY_CURRENT_USER);
        driver::DeleteDecisionsKey();
        if (!Write(row.machine, row.user))
            GTEST_SKIP() << "the policy keys cannot be written here (on Windows: run as an administrator)";
        if (row.stored)
            driver::WriteDword(kSite, *row.stored);
        Contents before = driver::ReadDecisionsKey();
        ASSERT_NO_FATAL_FAILURE(ExpectRequest(row.expected));
        EXPECT_EQ(driver::ReadDecisionsKey(), before) << "policy is never copied into the user's decisions";
        EXPECT_EQ(driver::DecisionsKeyExists(), row.stored.has_value());
    }
}

// Each row as "label: decision", top to bottom.
std::vector<std::wstring> Shown(HWND list)
{
    std::vector<std::wstring> shown;
    for (const driver::ListRow& row : driver::ListRows(list))
        shown.push_back(row.domain + L": " + row.decision);
    return shown;
}

HWND Editor(HWND list)
{
    return FindWindowExW(list, nullptr, L"ComboBox", nullptr);
}

void SelectRow(HWND list, int row)
{
    driver::ListSelect(list, row);
    EXPECT_TRUE(driver::WaitUntil([&] { return driver::ListSelectedRow(list) == row; }, kPatienceMs));
}

// The sites policy decides come first, in the user's language, as the
// administrator wrote them; they can be neither renamed, switched nor
// removed, and the save writes the user's own rows alone.
TEST_F(Policy, PreferencesShowsThePolicysSitesUnchangeableAndSavesOnlyTheUsersOwn)
{
    if (!Write(Key({{L"[*.]Example.com"}, {L"not a host"}}, {{L"ads.example.com"}}), Key({{L"ignored.example.org"}})))
        GTEST_SKIP() << "the policy keys cannot be written here (on Windows: run as an administrator)";
    driver::WriteDword(L"site1", 1);
    driver::WriteDword(L"ads.example.com", 1);  // the user's own Allow stays, under the policy's block

    const LANGID german = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
    const string_tables::StringTable& de = string_tables::StringsOf(german);
    {
        ASSERT_TRUE(SendHalvaneOnTheLocaleRoad());  // Wine switches string tables by the locale alone
        driver::HalvaneDialog halvane(L"de");
        ASSERT_NE(halvane.dialog(), nullptr);
        EXPECT_EQ(Shown(GetDlgItem(halvane.dialog(), IDC_SITE_LIST)),
                  (std::vector<std::wstring>{L"ads.example.com: " + de[IDS_POLICY_BLOCKED],
                                             L"[*.]example.com: " + de[IDS_POLICY_ALLOWED],
                                             L"ads.example.com: " + de[IDS_ALLOW], L"site1: " + de[IDS_ALLOW]}));
        EXPECT_EQ(halvane.Close(), 0u);
        SendHalvaneOnTheDefaultRoad();
    }

    driver::HalvaneDialog halvane(L"en");
    HWND dialog = halvane.dialog();
    ASSERT_NE(dialog, nullptr);
    HWND list = GetDlgItem(dialog, IDC_SITE_LIST);
    EXPECT_EQ(Shown(list), (std::vector<std::wstring>{L"ads.example.com: Blocked by administrator",
                                                      L"[*.]example.com: Allowed by administrator",
                                                      L"ads.example.com: Allow", L"site1: Allow"}));
    for (int row : {0, 1}) {
        SCOPED_TRACE(row);
        SelectRow(list, row);
        EXPECT_FALSE(driver::IsEnabled(dialog, IDC_REMOVE)) << "a policy's row cannot be removed";
        EXPECT_FALSE(Editor(list) && IsWindowVisible(Editor(list))) << "nor switched";
        driver::FocusControl(dialog, list);
        EXPECT_EQ(driver::ListEditLabel(list, row), nullptr) << "nor renamed";
    }

    // The user's own rows: switched and removed as ever, and saved.
    SelectRow(list, 3);
    EXPECT_TRUE(driver::IsEnabled(dialog, IDC_REMOVE));
    ASSERT_TRUE(Editor(list) && IsWindowVisible(Editor(list)));
    driver::FocusControl(dialog, Editor(list));
    driver::PressKey(Editor(list), VK_DOWN);  // Allow, then Deny
    EXPECT_TRUE(driver::WaitUntil([&] { return driver::ListText(list, 3, 1) == L"Deny"; }, kPatienceMs));
    SelectRow(list, 2);
    driver::Click(dialog, IDC_REMOVE);
    EXPECT_TRUE(driver::WaitUntil([&] { return driver::ListCount(list) == 3; }, kPatienceMs));
    EXPECT_EQ(halvane.Close(IDOK), 0u);
    EXPECT_EQ(driver::ReadDecisionsKey(), (Contents{{L"site1", driver::Dword(0)}}));
}

}  // namespace
