// The Preferences dialog and its Allow/Deny cell editor, end to end (the real halvane.exe
// driven from outside); SiteListOrder, at the end, checks the rows' order in this process.
#include "app/globals.h"
#include "decisions/decision_table.h"
#include "driver.h"
#include "string_tables.h"
#include "text/text.h"
#include "ui/dialogs.h"
#include "ui/resource_ids.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

const wchar_t kPreferencesCaption[] = L"Halvane Preferences";
const wchar_t kAllow[] = L"Allow";
const wchar_t kDeny[] = L"Deny";
const DWORD kWait = driver::kPatienceMs;

HWND SiteList(HWND dialog) { return GetDlgItem(dialog, IDC_SITE_LIST); }
// The editor is a child of the list view, not of the dialog.
HWND Editor(HWND list) { return FindWindowExW(list, nullptr, L"ComboBox", nullptr); }

using Rows = std::vector<std::pair<std::wstring, std::wstring>>;  // label, decision text

Rows RowsOf(HWND list)
{
    Rows rows;
    for (const driver::ListRow& row : driver::ListRows(list))
        rows.emplace_back(row.domain, row.decision);
    return rows;
}

int RowWithData(HWND list, LPARAM data)
{
    std::vector<driver::ListRow> rows = driver::ListRows(list);
    auto found = std::find_if(rows.begin(), rows.end(), [&](const driver::ListRow& row) { return row.data == data; });
    return found == rows.end() ? -1 : static_cast<int>(found - rows.begin());
}

RECT RectInParent(HWND window)
{
    RECT rect = driver::WindowRect(window);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::vector<std::wstring> EditorItems(HWND editor)
{
    std::vector<std::wstring> items;
    for (int i = 0, count = static_cast<int>(driver::Send(editor, CB_GETCOUNT, 0, 0)); i < count; ++i) {
        std::wstring text(static_cast<size_t>(driver::Send(editor, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
        LRESULT length = driver::Send(editor, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&text[0]));
        text.resize(length > 0 ? static_cast<size_t>(length) : 0);
        items.push_back(text);
    }
    return items;
}

// Sent from another process, WM_GETICON comes back 0 under Wine: ask from inside.
LRESULT BigIcon(HWND window)
{
    LRESULT icon = -1;
    EXPECT_TRUE(driver::SendFromInside(window, WM_GETICON, ICON_BIG, 0, &icon));
    return icon;
}

// Picks an item with the arrow keys; the combo box reports it to its parent, the list view.
void Choose(HWND dialog, HWND editor, const std::wstring& text)
{
    std::vector<std::wstring> items = EditorItems(editor);
    int target = static_cast<int>(std::find(items.begin(), items.end(), text) - items.begin());
    ASSERT_LT(target, static_cast<int>(items.size())) << "no item " << testing::PrintToString(text);
    auto selection = [&] { return static_cast<int>(driver::Send(editor, CB_GETCURSEL, 0, 0)); };
    int current = selection();
    ASSERT_NE(current, target) << "already chosen";
    driver::FocusControl(dialog, editor);
    for (int i = current; i != target; i += target > current ? 1 : -1)
        driver::PressKey(editor, target > current ? VK_DOWN : VK_UP);
    ASSERT_TRUE(driver::WaitUntil([&] { return selection() == target; }, kWait));
}

HWND StartLabelEdit(HWND dialog, int row)
{
    driver::FocusControl(dialog, SiteList(dialog));
    return driver::ListEditLabel(SiteList(dialog), row);
}

// Ends a label edit with Enter (after typing text) or Esc.
void EndLabelEdit(HWND edit, UINT key, const std::wstring& text = L"")
{
    if (key == VK_RETURN)
        driver::TypeText(edit, text);
    driver::PressKey(edit, key);
    EXPECT_TRUE(driver::WaitUntil([&] { return !IsWindow(edit); }, kWait));
}

HWND ClickAdd(HWND dialog)
{
    driver::Click(dialog, IDC_ADD);
    HWND edit = nullptr;
    EXPECT_TRUE(driver::WaitUntil(
        [&] { return (edit = FindWindowExW(SiteList(dialog), nullptr, L"Edit", nullptr)) != nullptr; }, kWait));
    return edit;
}

void SelectRow(HWND list, int row)
{
    driver::ListSelect(list, row);
    EXPECT_TRUE(driver::WaitUntil([&] { return driver::ListSelectedRow(list) == row; }, kWait));
}

void ChooseForRow(HWND dialog, int row, const std::wstring& text)
{
    SelectRow(SiteList(dialog), row);
    ASSERT_NO_FATAL_FAILURE(Choose(dialog, Editor(SiteList(dialog)), text));
}

void RemoveRow(HWND dialog, int row)
{
    HWND list = SiteList(dialog);
    SelectRow(list, row);
    int before = driver::ListCount(list);
    driver::Click(dialog, IDC_REMOVE);
    EXPECT_TRUE(driver::WaitUntil([&] { return driver::ListCount(list) == before - 1; }, kWait));
}

// Writes in the order given, not sorted: the table takes the key's order, and slots matter.
void Seed(std::initializer_list<std::pair<const wchar_t*, DWORD>> values)
{
    for (const auto& [name, value] : values)
        driver::WriteDword(name, value);
}

driver::KeyContents Dwords(std::initializer_list<std::pair<const wchar_t*, DWORD>> values)
{
    driver::KeyContents key;
    for (const auto& [name, value] : values)
        key[name] = driver::Dword(value);
    return key;
}

class PreferencesTest : public testing::Test {
protected:
    void SetUp() override { driver::DeleteDecisionsKey(); }
    void TearDown() override
    {
        halvane_.reset();  // ends it if a failed test left it running
        driver::DeleteDecisionsKey();
    }

    // The language code alone opens Preferences; with an undecided site, the prompt.
    HWND Open(const std::wstring& tail = L"en", const wchar_t* caption = kPreferencesCaption)
    {
        halvane_ = std::make_unique<driver::HalvaneDialog>(tail, caption);
        return halvane_->dialog();
    }

    // Preferences opened alone: the process ends with it, with 0.
    void Finish(int button) { EXPECT_EQ(halvane_->Close(button), 0u); }

    std::unique_ptr<driver::HalvaneDialog> halvane_;
};

using PreferencesOpenedAlone = PreferencesTest;

TEST_F(PreferencesOpenedAlone, ShowsItsTextsPlacementTheStoredSitesSortedAndAnEditorThatFollowsTheSelectedRow)
{
    Seed({{L"zeta.org", 0}, {L"Alpha.org", 1}, {L"mid.org", 5}});  // any non-zero value reads as Allow
    driver::WriteRaw(L"bin.org", REG_BINARY, {0, 0, 0, 0});         // 4 bytes of any type count
    driver::WriteRaw(L"junk.org", REG_BINARY, {1, 0, 0, 0, 0, 0, 0, 0});  // 8 bytes: not a decision
    const driver::KeyContents seeded = driver::ReadDecisionsKey();
    HWND dialog = Open();
    ASSERT_TRUE(dialog);
    HWND list = SiteList(dialog);

    EXPECT_EQ(driver::Text(dialog), kPreferencesCaption);
    for (auto [id, text] : {std::pair{IDOK, L"OK"}, {IDCANCEL, L"Cancel"}, {IDC_ADD, L"Add"}, {IDC_REMOVE, L"Remove"}})
        EXPECT_EQ(driver::ItemText(dialog, id), text);
    EXPECT_EQ(driver::ListColumns(list), (std::vector<std::wstring>{L"Domain", L"Halvane"}));
    EXPECT_EQ(RowsOf(list),
              (Rows{{L"alpha.org", kAllow}, {L"bin.org", kDeny}, {L"mid.org", kAllow}, {L"zeta.org", kDeny}}));

    // Three fifths and two fifths of the client width, each rounded down.
    RECT client = {};
    GetClientRect(list, &client);
    for (int column : {0, 1})
        EXPECT_EQ(driver::ListColumnWidth(list, column), (3 - column) * client.right / 5);
    EXPECT_EQ(driver::ListExtendedStyle(list), static_cast<DWORD>(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT));

    // Above the browser, centred on the primary screen, with nothing to borrow an icon from.
    EXPECT_TRUE(driver::IsTopmost(dialog));
    RECT frame = driver::WindowRect(dialog);
    EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2);
    EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2);
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), nullptr);
    EXPECT_EQ(BigIcon(dialog), 0);

    // The decision cell editor exists before any row is selected, hidden, on Deny.
    HWND editor = Editor(list);
    ASSERT_TRUE(editor);
    EXPECT_FALSE(IsWindowVisible(editor));
    EXPECT_EQ(EditorItems(editor), (std::vector<std::wstring>{kAllow, kDeny}));  // unsorted: Allow first
    for (int item : {0, 1})
        EXPECT_EQ(driver::Send(editor, CB_GETITEMDATA, item, 0), 1 - item);
    EXPECT_EQ(driver::Text(editor), kDeny);
    EXPECT_EQ(GetWindowLongW(editor, GWL_STYLE) & (0x3 | CBS_SORT), CBS_DROPDOWNLIST);  // unsorted
    EXPECT_EQ(std::make_pair(RectInParent(editor).left, RectInParent(editor).top), std::make_pair(100L, 100L));
    EXPECT_FALSE(driver::IsEnabled(dialog, IDC_REMOVE));

    // It follows the selected row over its decision cell: the second row, then the top one.
    for (int row : {1, 0}) {
        SCOPED_TRACE(row);
        SelectRow(list, row);
        EXPECT_TRUE(driver::IsEnabled(dialog, IDC_REMOVE));
        EXPECT_TRUE(IsWindowVisible(editor));
        EXPECT_EQ(driver::Text(editor), driver::ListText(list, row, 1));
        // The closed field: one pixel in from the cell's left, two above the row.
        RECT cell = driver::ListSubItemRect(list, row, 1), placed = RectInParent(editor);
        EXPECT_EQ(std::make_tuple(placed.left, placed.top, placed.right, placed.bottom),
                  std::make_tuple(cell.left + 1, cell.top - 2, cell.right, cell.bottom));
        // The given height must hold the field and both choices, or Windows drops an empty
        // list (Wine makes room itself). CB_GETDROPPEDCONTROLRECT holds the field and the
        // list on Windows; Wine's omits the field.
        RECT dropped = {};
        driver::Send(editor, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
        int itemHeight = static_cast<int>(driver::Send(editor, CB_GETITEMHEIGHT, 0, 0));
        ASSERT_GT(itemHeight, 0);
        RECT field = driver::WindowRect(editor);
        const int listHeight = dropped.bottom - dropped.top - (driver::UnderWine() ? 0 : field.bottom - field.top);
        EXPECT_EQ(dropped.top, field.top);
        EXPECT_GE(listHeight, 2 * itemHeight);
        EXPECT_LT(listHeight, 3 * itemHeight) << "room for a third choice: a height left from before";
    }
    EXPECT_EQ(driver::Text(editor), kAllow);
    driver::ListClearSelection(list);
    EXPECT_TRUE(driver::WaitUntil([&] { return !IsWindowVisible(editor); }, kWait));
    EXPECT_FALSE(driver::IsEnabled(dialog, IDC_REMOVE));

    ASSERT_NO_FATAL_FAILURE(ChooseForRow(dialog, 0, kDeny));
    ASSERT_NO_FATAL_FAILURE(ChooseForRow(dialog, 1, kAllow));
    EXPECT_EQ(RowsOf(list),
              (Rows{{L"alpha.org", kDeny}, {L"bin.org", kAllow}, {L"mid.org", kAllow}, {L"zeta.org", kDeny}}));
    EXPECT_EQ(driver::ReadDecisionsKey(), seeded);  // not yet

    // Saved as the table holds it: lower-cased names, values kept, the junk gone.
    Finish(IDOK);
    EXPECT_EQ(driver::ReadDecisionsKey(), Dwords({{L"alpha.org", 0}, {L"bin.org", 1}, {L"mid.org", 5}, {L"zeta.org", 0}}));
}

using SiteRows = PreferencesTest;

// With no recorded row, neither a choice nor Remove changes anything; then rows are
// added, renamed and removed, and OK saves them lower-cased.
TEST_F(SiteRows, AChoiceOrRemoveWithNoRecordedRowIsIgnoredAndEditedRowsAreSavedLowerCased)
{
    Seed({{L"a.org", 0}, {L"b.org", 0}, {L"zeta.org", 1}});
    HWND dialog = Open();
    ASSERT_TRUE(dialog);
    HWND list = SiteList(dialog);
    HWND editor = Editor(list);

    // Nothing selected: the hidden editor still takes the keyboard.
    ASSERT_NO_FATAL_FAILURE(Choose(dialog, editor, kAllow));
    EXPECT_EQ(RowsOf(list), (Rows{{L"a.org", kDeny}, {L"b.org", kDeny}, {L"zeta.org", kAllow}}));

    // A label change with nothing recorded shows the editor where it last stood.
    HWND edit = StartLabelEdit(dialog, 0);
    ASSERT_TRUE(edit);
    driver::ListClearSelection(list);
    ASSERT_TRUE(driver::WaitUntil([&] { return !driver::IsEnabled(dialog, IDC_REMOVE); }, kWait));
    EndLabelEdit(edit, VK_RETURN, L"c.org");
    EXPECT_TRUE(IsWindowVisible(editor));
    EXPECT_EQ(driver::ListSelectedRow(list), -1);
    ASSERT_NO_FATAL_FAILURE(Choose(dialog, editor, driver::Text(editor) == kDeny ? kAllow : kDeny));
    EXPECT_EQ(RowsOf(list), (Rows{{L"c.org", kDeny}, {L"b.org", kDeny}, {L"zeta.org", kAllow}}));

    // Under Wine a click reaches a disabled button too; the record guards the removal.
    // Add, handled after the click, shows by its edit that the click is over.
    for (bool afterASelection : {false, true}) {
        if (afterASelection) {
            SelectRow(list, 0);
            driver::ListClearSelection(list);
            ASSERT_TRUE(driver::WaitUntil([&] { return !driver::IsEnabled(dialog, IDC_REMOVE); }, kWait));
        }
        driver::Click(dialog, IDC_REMOVE);
        EndLabelEdit(ClickAdd(dialog), VK_ESCAPE);
    }

    edit = ClickAdd(dialog);
    ASSERT_TRUE(edit);
    EXPECT_EQ(driver::Text(edit), L"");
    EXPECT_EQ(RowsOf(list), (Rows{{L"c.org", kDeny}, {L"b.org", kDeny}, {L"zeta.org", kAllow}, {L"", kDeny},
                                  {L"", kDeny}, {L"", kDeny}}));
    // Lower-cased (only A to Z: Ä keeps its case), left where it was although it sorts earlier.
    EndLabelEdit(edit, VK_RETURN, L"MixedCase.Org");
    EndLabelEdit(StartLabelEdit(dialog, 1), VK_RETURN, L"\u00C4BC.Org");
    RemoveRow(dialog, 2);
    EXPECT_EQ(RowsOf(list), (Rows{{L"c.org", kDeny}, {L"\u00C4bc.org", kDeny}, {L"", kDeny}, {L"", kDeny},
                                  {L"mixedcase.org", kDeny}}));
    EXPECT_FALSE(driver::IsEnabled(dialog, IDC_REMOVE));
    EXPECT_FALSE(IsWindowVisible(editor));

    // Renamed and removed values gone, empty domains never saved.
    Finish(IDOK);
    EXPECT_EQ(driver::ReadDecisionsKey(), Dwords({{L"\u00C4bc.org", 0}, {L"c.org", 0}, {L"mixedcase.org", 0}}));
}

// Alone, Cancel saves nothing: the junk value, which a save would drop, stays.
TEST_F(SiteRows, AnEmptyTableTakesAddedSitesAnEmptiedOrCancelledEditKeepsTheLabelAndCancelSavesNothing)
{
    driver::WriteRaw(L"junk.org", REG_BINARY, {1, 2, 3});  // not a decision: the table is empty
    const driver::KeyContents seeded = driver::ReadDecisionsKey();
    HWND dialog = Open();
    ASSERT_TRUE(dialog);
    HWND list = SiteList(dialog);
    EXPECT_EQ(driver::ListCount(list), 0);
    EXPECT_FALSE(driver::IsEnabled(dialog, IDC_REMOVE));
    EndLabelEdit(ClickAdd(dialog), VK_RETURN, L"a.org");

    // Wine reports an emptied edit as cancelled; Windows hands over "", refused as well.
    for (auto [key, text] : {std::pair{VK_ESCAPE, L"escaped.org"}, {VK_RETURN, L""}}) {
        HWND edit = StartLabelEdit(dialog, 0);
        ASSERT_TRUE(edit);
        driver::TypeText(edit, text);
        EndLabelEdit(edit, key);
        EXPECT_EQ(RowsOf(list), (Rows{{L"a.org", kDeny}}));
    }

    // A new row keeps its empty label either way.
    EndLabelEdit(ClickAdd(dialog), VK_ESCAPE);
    EndLabelEdit(ClickAdd(dialog), VK_RETURN, L"");
    EXPECT_EQ(RowsOf(list), (Rows{{L"a.org", kDeny}, {L"", kDeny}, {L"", kDeny}}));

    ASSERT_NO_FATAL_FAILURE(ChooseForRow(dialog, 0, kAllow));
    EndLabelEdit(StartLabelEdit(dialog, 1), VK_RETURN, L"renamed.org");
    RemoveRow(dialog, 2);
    ASSERT_EQ(RowsOf(list), (Rows{{L"a.org", kAllow}, {L"renamed.org", kDeny}}));
    Finish(IDCANCEL);
    EXPECT_EQ(driver::ReadDecisionsKey(), seeded);
}

class PreferencesFromPrompt : public PreferencesTest {
protected:
    // No browser window is titled "T": whatever the answer, the process then ends.
    void StartPrompt()
    {
        prompt_ = Open(L"en example.org \"T\"", L"Halvane");
        ASSERT_TRUE(prompt_);
    }

    // By a click once the prompt takes input, or by the command (skips the early-click guard).
    HWND OpenPreferences(bool byCommand = false)
    {
        if (byCommand)
            PostMessageW(prompt_, WM_COMMAND, MAKEWPARAM(IDC_PREFERENCES, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(prompt_, IDC_PREFERENCES)));
        else if (driver::WaitUntilInputCounts(prompt_, kWait))
            driver::Click(prompt_, IDC_PREFERENCES);
        else
            return nullptr;
        return halvane_->Await(kPreferencesCaption);
    }

    // A message sent to the prompt is handled only after the dialog's end was dealt with.
    bool ClosePreferences(HWND preferences, int button)
    {
        driver::Click(preferences, button);
        DWORD_PTR ignored = 0;
        return driver::WaitUntil([&] { return !IsWindow(preferences); }, kWait) &&
               SendMessageTimeoutW(prompt_, WM_NULL, 0, 0, SMTO_NORMAL, kWait, &ignored) != 0 &&
               IsWindowEnabled(prompt_) != FALSE;
    }

    void Confirm()
    {
        ASSERT_TRUE(driver::WaitUntilInputCounts(prompt_, kWait) && driver::PressOk(prompt_));
        EXPECT_EQ(halvane_->WaitForExit(kWait), 0u);
    }

    HANDLE Handle() const { return halvane_->process().get().handle; }

    HWND prompt_ = nullptr;
};

// Cancel closes the dialog, but the table it changed stays the prompt's, and an
// answer saves it. OK saves at once, while the prompt still waits as it was.
TEST_F(PreferencesFromPrompt, IsOwnedByThePromptOkSavesAtOnceCancelledChangesWaitForTheAnswer)
{
    Seed({{L"a.org", 0}, {L"b.org", 1}});
    driver::WriteRaw(L"junk.org", REG_BINARY, {1, 2});  // a save drops it
    driver::KeyContents before = driver::ReadDecisionsKey();
    ASSERT_NO_FATAL_FAILURE(StartPrompt());

    HWND dialog = OpenPreferences();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), prompt_);
    EXPECT_FALSE(IsWindowEnabled(prompt_));
    EXPECT_TRUE(driver::IsTopmost(dialog));
    LRESULT promptIcon = BigIcon(prompt_);
    EXPECT_NE(promptIcon, 0);
    EXPECT_EQ(BigIcon(dialog), promptIcon);
    ASSERT_NO_FATAL_FAILURE(ChooseForRow(dialog, 0, kAllow));
    RemoveRow(dialog, 1);
    ASSERT_TRUE(ClosePreferences(dialog, IDCANCEL));
    EXPECT_EQ(driver::ReadDecisionsKey(), before);
    EXPECT_TRUE(driver::CheckedChoices(prompt_).empty());  // an undecided prompt stays undecided
    EXPECT_FALSE(driver::IsEnabled(prompt_, IDOK));

    ASSERT_TRUE(driver::WaitUntilInputCounts(prompt_, kWait) && driver::Pick(prompt_, IDC_NEVER));
    ASSERT_TRUE(dialog = OpenPreferences());
    EXPECT_EQ(RowsOf(SiteList(dialog)), (Rows{{L"a.org", kAllow}}));
    ASSERT_NO_FATAL_FAILURE(ChooseForRow(dialog, 0, kDeny));
    ASSERT_TRUE(ClosePreferences(dialog, IDOK));
    EXPECT_EQ(driver::ReadDecisionsKey(), Dwords({{L"a.org", 0}}));
    EXPECT_EQ(halvane_->WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_TRUE(IsWindowVisible(prompt_));
    EXPECT_EQ(driver::CheckedChoices(prompt_), std::vector<int>{IDC_NEVER});
    EXPECT_TRUE(driver::IsEnabled(prompt_, IDOK));

    driver::WriteRaw(L"junk.org", REG_BINARY, {1, 2});
    before = driver::ReadDecisionsKey();
    ASSERT_TRUE(dialog = OpenPreferences());
    ASSERT_NO_FATAL_FAILURE(ChooseForRow(dialog, 0, kAllow));
    ASSERT_TRUE(ClosePreferences(dialog, IDCANCEL));
    EXPECT_EQ(driver::ReadDecisionsKey(), before);
    EXPECT_EQ(driver::CheckedChoices(prompt_), std::vector<int>{IDC_NEVER});

    // The choice made before Preferences is the one acted on, with the cancelled change.
    ASSERT_NO_FATAL_FAILURE(Confirm());
    EXPECT_EQ(driver::ReadDecisionsKey(), Dwords({{L"a.org", 1}, {L"example.org", 0}}));
}

// A choice goes to the recorded row's own entry, even when two rows carry one domain;
// opened from the prompt, the table outlives the dialog, so reopening shows each entry.
TEST_F(PreferencesFromPrompt, OnTwoRowsOfOneDomainAChoiceChangesItsOwnRowsEntry)
{
    driver::WriteDword(L"a.org", 0);  // the only value: slot 0
    ASSERT_NO_FATAL_FAILURE(StartPrompt());
    HWND dialog = OpenPreferences();
    ASSERT_TRUE(dialog);
    HWND list = SiteList(dialog);
    EndLabelEdit(ClickAdd(dialog), VK_RETURN, L"A.org");  // a second entry, in slot 1
    ASSERT_EQ(RowsOf(list), (Rows{{L"a.org", kDeny}, {L"a.org", kDeny}}));
    const LPARAM original = driver::ListRows(list).at(0).data, added = driver::ListRows(list).at(1).data;
    ASSERT_NE(added, original);
    ASSERT_NO_FATAL_FAILURE(ChooseForRow(dialog, 1, kAllow));
    EXPECT_EQ(RowsOf(list), (Rows{{L"a.org", kDeny}, {L"a.org", kAllow}}));

    // The reopened list is rebuilt from the table; each entry's row is found by its data.
    int originalRow = -1, addedRow = -1;
    auto reopen = [&](int button, const wchar_t* originalDecision, const wchar_t* addedDecision) {
        ASSERT_TRUE(ClosePreferences(dialog, button));
        ASSERT_TRUE(dialog = OpenPreferences());
        list = SiteList(dialog);
        ASSERT_NE(originalRow = RowWithData(list, original), -1);
        ASSERT_NE(addedRow = RowWithData(list, added), -1);
        EXPECT_EQ(driver::ListText(list, originalRow, 1), originalDecision);
        EXPECT_EQ(driver::ListText(list, addedRow, 1), addedDecision);
    };
    ASSERT_NO_FATAL_FAILURE(reopen(IDCANCEL, kDeny, kAllow));

    // Now the other way round. The save writes slots in order, so slot 1 has the last word.
    ASSERT_NO_FATAL_FAILURE(ChooseForRow(dialog, originalRow, kAllow));
    ASSERT_NO_FATAL_FAILURE(ChooseForRow(dialog, addedRow, kDeny));
    EXPECT_EQ(driver::ListText(list, originalRow, 1), kAllow);
    ASSERT_NO_FATAL_FAILURE(reopen(IDOK, kAllow, kDeny));
    EXPECT_EQ(driver::ReadDecisionsKey(), Dwords({{L"a.org", 0}}));
    ASSERT_TRUE(ClosePreferences(dialog, IDCANCEL));
}

BOOL CALLBACK CountWindowOf(HWND window, LPARAM param)
{
    auto* counted = reinterpret_cast<std::pair<DWORD, int>*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    counted->second += owner == counted->first;
    return TRUE;
}

// Hidden windows and children included: the desktop's children come with theirs.
int WindowsOf(DWORD processId)
{
    std::pair<DWORD, int> counted = {processId, 0};  // process, windows
    EnumChildWindows(GetDesktopWindow(), CountWindowOf, reinterpret_cast<LPARAM>(&counted));
    return counted.second;
}

DWORD GdiObjectType(HANDLE process, LRESULT handle)
{
    DWORD type = 0xFFFFFFFF;
    EXPECT_TRUE(driver::CallFromInside(process, L"gdi32.dll", "GetObjectType", static_cast<ULONG_PTR>(handle), &type));
    return type;
}

// Each opening makes an editor and its font; each closing must destroy both. Wine 8
// answers 0 to GetGuiResources, so the font is also checked from inside the process,
// on every tenth opening: the font is made the same way each time, and under Wine a
// call made inside another process can freeze it (see docs/maintainers.md), so the
// test makes few such calls rather than three an opening.
TEST_F(PreferencesFromPrompt, FiftyOpeningsLeaveNoFontOrWindowBehind)
{
    driver::WriteDword(L"a.org", 1);
    ASSERT_NO_FATAL_FAILURE(StartPrompt());
    auto openAndCancel = [&](LRESULT* editorFont) {
        HWND dialog = OpenPreferences(true);
        ASSERT_TRUE(dialog);
        HWND editor = Editor(SiteList(dialog));
        ASSERT_TRUE(editor) << "each opening makes a new editor";
        if (editorFont) {
            ASSERT_TRUE(driver::SendFromInside(editor, WM_GETFONT, 0, 0, editorFont));
            ASSERT_EQ(GdiObjectType(Handle(), *editorFont), static_cast<DWORD>(OBJ_FONT));
        }
        ASSERT_TRUE(ClosePreferences(dialog, IDCANCEL));
    };

    LRESULT font = 0;
    openAndCancel(&font);  // first use may load and keep what later ones share
    const DWORD gdiBefore = GetGuiResources(Handle(), GR_GDIOBJECTS);
    const DWORD userBefore = GetGuiResources(Handle(), GR_USEROBJECTS);
    const int windowsBefore = WindowsOf(halvane_->id());

    std::vector<LRESULT> fonts;
    for (int i = 0; i < 50; ++i) {
        SCOPED_TRACE(i);
        bool look = i % 10 == 9;
        ASSERT_NO_FATAL_FAILURE(openAndCancel(look ? &font : nullptr));
        if (!look)
            continue;
        fonts.push_back(font);
        ASSERT_EQ(GdiObjectType(Handle(), font), 0u) << "the editor's font outlived its dialog";
    }

    EXPECT_EQ(GetGuiResources(Handle(), GR_GDIOBJECTS), gdiBefore);
    EXPECT_EQ(GetGuiResources(Handle(), GR_USEROBJECTS), userBefore);
    EXPECT_EQ(WindowsOf(halvane_->id()), windowsBefore);
    for (LRESULT old : fonts)
        EXPECT_EQ(GdiObjectType(Handle(), old), 0u);
    EXPECT_TRUE(IsWindowVisible(prompt_));

    EXPECT_EQ(halvane_->Close(IDCANCEL), 0u);
    EXPECT_EQ(driver::ReadDecisionsKey(), Dwords({{L"a.org", 1}}));  // cancelled every time: untouched
}

// A font made for an editor whose window failed would belong to no one. Wine counts no
// GDI objects but gives the next one the handle slot freed last: a leaked font takes it.
TEST(DecisionEditorAlone, MakesNoFontWhenItsWindowCannotBeMade)
{
    // No site list in it: the editor, a child of no parent, cannot be made.
    HWND notADialog = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(notADialog);
    auto nextFontSlot = [] {
        HFONT font = CreateFontW(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, L"Tahoma");
        DeleteObject(font);
        return LOWORD(reinterpret_cast<ULONG_PTR>(font));
    };
    WORD slot = nextFontSlot();
    if (nextFontSlot() != slot)
        GTEST_SKIP() << "this system does not hand out a freed slot again";
    CreateDecisionEditor(notADialog);
    EXPECT_EQ(DecisionEditor, nullptr);
    EXPECT_EQ(nextFontSlot(), slot) << "a font was made for an editor that does not exist";
    DestroyDecisionEditor();
    DestroyWindow(notADialog);
}

// The fill gives the rows in the order the list's own sort would, without letting it
// sort: held against a list of the same template filled row by row, sorted by itself.
INT_PTR CALLBACK TemplateOnlyProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

int InsertSorted(HWND list, const wchar_t* label, LPARAM data)
{
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_STATE;
    item.pszText = const_cast<wchar_t*>(label);
    item.lParam = data;
    return static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

using DataRows = std::vector<std::tuple<std::wstring, std::wstring, LPARAM>>;  // label, decision, entry

DataRows DataRowsOf(HWND list)
{
    DataRows rows;
    for (const driver::ListRow& row : driver::ListRows(list))
        rows.emplace_back(row.domain, row.decision, row.data);
    return rows;
}

// Slot i gets labels[i] as is (null: empty slot). Hand-picked first: case ("\u00e4" sorts
// before "\u00c4"), accents, scripts, punctuation, digits, empty and equal labels (the list
// puts the later slot first); then generated ones from such pieces.
std::vector<const wchar_t*> MixedLabels(std::vector<std::wstring>* generated)
{
    std::vector<const wchar_t*> labels = {
        L"zeta.org", L"\u00c4bc.org", L"Example.ORG", nullptr, L"\u00e4bc.org", L"a.org", L"", L"abc.org",
        L"\u00e9t\u00e9.fr", L"\u00c9T\u00c9.fr", L"\u0436.ru", L"\u0416.ru", L"stra\u00dfe.de", L"strasse.de",
        L"\u4e2d\u6587.cn", L"zzzzz.org", L"-dash.org", L"_under.org", L"9.org", L"10.org", nullptr, L"a.org",
        L"xn--bcher-kva.example", L"b\u00fccher.example", L"a-b.org", L"ab.org", L"", L"a.org", L"\u00e6.no", L"ae.no"};
    const wchar_t* pieces[] = {L"a", L"B", L"\u00e4", L"\u00c4", L"\u00e9", L"-", L".", L"\u00df", L"ss", L"z", L"0"};
    uint32_t seed = 12345;
    generated->resize(400);
    for (std::wstring& label : *generated)
        for (int n = 0; n < 3; ++n) {
            seed = seed * 1103515245u + 12345u;
            label += pieces[(seed >> 16) % (sizeof(pieces) / sizeof(pieces[0]))];
        }
    for (size_t i = 0; i < generated->size(); ++i)
        labels.push_back(i % 37 == 5 ? nullptr : (*generated)[i].c_str());
    return labels;
}

class SiteListOrder : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(string_tables::HalvaneImage(), nullptr);
        savedInstance_ = AppInstance;
        savedLocale_ = GetThreadLocale();
        AppInstance = string_tables::HalvaneImage();  // halvane.exe's template and strings
        wcscpy(AllowText, kAllow);
        wcscpy(DenyText, kDeny);
    }
    void TearDown() override
    {
        for (HWND dialog : dialogs_)
            DestroyWindow(dialog);
        ClearDecisionTable();
        SetThreadLocale(savedLocale_);
        AppInstance = savedInstance_;
    }

    void FillTable(const std::vector<const wchar_t*>& labels)
    {
        ResetDecisionTable(static_cast<uint32_t>(labels.size()));
        for (uint32_t i = 0; i < labels.size(); ++i)
            if (labels[i])
                PutDecisionInSlot(i, DuplicateText(labels[i], static_cast<uint32_t>(wcslen(labels[i]))), i % 3 == 0);
    }

    HWND OpenList(DLGPROC procedure)
    {
        dialogs_.push_back(CreateDialogParamW(AppInstance, MAKEINTRESOURCEW(IDD_PREFERENCES), nullptr, procedure, 0));
        return SiteList(dialogs_.back());
    }

    HWND FilledRowByRow()
    {
        HWND list = OpenList(TemplateOnlyProc);
        for (int column : {0, 1}) {
            LVCOLUMNW header = {};
            header.mask = LVCF_WIDTH | LVCF_SUBITEM;
            header.cx = 100;
            header.iSubItem = column;
            SendMessageW(list, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&header));
        }
        for (uint32_t i = 0; i < SiteDecisions.slotCount; ++i) {
            if (SiteDecision* entry = SiteDecisions.slots[i]) {
                LVITEMW cell = {};
                cell.mask = LVIF_TEXT;
                cell.iItem = InsertSorted(list, entry->domain, reinterpret_cast<LPARAM>(entry));
                cell.iSubItem = 1;
                cell.pszText = entry->decision ? AllowText : DenyText;
                SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&cell));
            }
        }
        SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
        return list;
    }

private:
    HINSTANCE savedInstance_ = nullptr;
    LCID savedLocale_ = 0;
    std::vector<HWND> dialogs_;
};

// The list compares in the thread's locale, which the program sets to the
// interface language on systems before Vista: Swedish sorts \u00e4 after z.
TEST_F(SiteListOrder, IsTheOrderOfTheListsOwnSortRowByRowAndLaterRowsAreSortedIn)
{
    std::vector<std::wstring> generated;
    FillTable(MixedLabels(&generated));
    for (LCID locale : {MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT),
                        MAKELCID(MAKELANGID(LANG_SWEDISH, SUBLANG_SWEDISH), SORT_DEFAULT)}) {
        SCOPED_TRACE(testing::Message() << "thread locale " << std::hex << locale);
        ASSERT_TRUE(SetThreadLocale(locale));
        HWND list = OpenList(PreferencesDialogProc);
        ASSERT_TRUE(list);
        HWND reference = FilledRowByRow();
        ASSERT_EQ(driver::ListCount(list), driver::ListCount(reference));
        EXPECT_EQ(DataRowsOf(list), DataRowsOf(reference));

        // The same style, sort style back. Scroll bars aside: the reference gets them only
        // once shown.
        const LONG scrollBars = WS_HSCROLL | WS_VSCROLL;
        EXPECT_EQ(GetWindowLongW(list, GWL_STYLE) & ~scrollBars, GetWindowLongW(reference, GWL_STYLE) & ~scrollBars);
        for (const wchar_t* added : {L"zzzz", L"m.org", L"\u00c4bc.org", L"a.org", L"", L"\u00f6.se"})
            EXPECT_EQ(InsertSorted(list, added, 1), InsertSorted(reference, added, 1)) << testing::PrintToString(added);
        EXPECT_EQ(DataRowsOf(list), DataRowsOf(reference));
    }
}

}  // namespace
