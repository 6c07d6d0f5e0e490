// The Allow/Deny drop-down laid over the selected row's decision cell.
// It is a child of the list view, so its notifications reach SiteListProc.
#include "app/globals.h"
#include "decisions/decision_table.h"
#include "ui/dialogs.h"
#include "ui/resource_ids.h"

void CreateDecisionEditor(HWND dialog)
{
    if (DecisionEditor)
        return;
    HWND list = GetDlgItem(dialog, IDC_SITE_LIST);
    DecisionEditor = CreateWindowExW(0, L"COMBOBOX", nullptr, WS_CHILD | CBS_DROPDOWNLIST, 100, 100, 150, 150, list,
                                     nullptr, AppInstance, nullptr);
    if (!DecisionEditor)
        return;  // a font made now would belong to no window

    // The dialog's font, two units smaller, whichever way its height is given.
    LOGFONTW font = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof(font), &font);
    font.lfHeight += font.lfHeight > 0 ? -2 : 2;
    SendMessageW(DecisionEditor, WM_SETFONT, reinterpret_cast<WPARAM>(CreateFontIndirectW(&font)), 0);

    LRESULT index = SendMessageW(DecisionEditor, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(AllowText));
    SendMessageW(DecisionEditor, CB_SETITEMDATA, index, DecisionAllow);
    index = SendMessageW(DecisionEditor, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(DenyText));
    SendMessageW(DecisionEditor, CB_SETITEMDATA, index, DecisionDeny);
    SendMessageW(DecisionEditor, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(DenyText));
}

static void GetCellText(HWND list, int row, int column, wchar_t* buffer)
{
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = TextLimit;
    buffer[0] = L'\0';
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

static int FieldHeight()
{
    RECT field;
    GetWindowRect(DecisionEditor, &field);  // closed, the window is the field alone
    return field.bottom - field.top;
}

// The field is its selection text's height and a frame. Wine counts two pixels
// of that frame in the height it is given, Windows none: whatever remains is
// corrected once by the height that shows.
static void SetFieldHeight(int height)
{
    int field = FieldHeight();
    if (field == height)
        return;
    int text = static_cast<int>(SendMessageW(DecisionEditor, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
    int asked = text + height - field;
    SendMessageW(DecisionEditor, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), asked);
    field = FieldHeight();
    if (field != height)
        SendMessageW(DecisionEditor, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), asked + height - field);
}

void PlaceDecisionEditor(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_SITE_LIST);
    RECT cell = {LVIR_BOUNDS, 1, 0, 0};
    SendMessageW(list, LVM_GETSUBITEMRECT, SelectedRow.iItem, reinterpret_cast<LPARAM>(&cell));
    // One pixel inside the cell's left edge, two above the row, to the cell's right and bottom.
    int x = cell.left + 1;
    int y = cell.top - 2;
    // A drop-down list takes the height it is given for its field and its
    // dropped list together: given only the cell's, Windows drops an empty
    // list. It gets room for both choices and the list's border; the field is
    // then made the cell's height (a resize may have reset it).
    int itemHeight = static_cast<int>(SendMessageW(DecisionEditor, CB_GETITEMHEIGHT, 0, 0));
    SetWindowPos(DecisionEditor, HWND_TOP, x, y, cell.right - x, FieldHeight() + 2 * itemHeight + 2, SWP_SHOWWINDOW);
    SetFieldHeight(cell.bottom - y);

    wchar_t text[TextBufferLength];
    GetCellText(list, SelectedRow.iItem, 1, text);
    SendMessageW(DecisionEditor, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text));
}

void DestroyDecisionEditor()
{
    if (!DecisionEditor)
        return;
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(DecisionEditor, WM_GETFONT, 0, 0));
    DestroyWindow(DecisionEditor);
    DecisionEditor = nullptr;
    if (font)
        DeleteObject(font);  // only once the window using it is gone
}

// A choice applies to the recorded row's own entry, not to whichever entry
// first carries the same domain, so two rows of one domain never disagree with
// the table. Without a recorded row the editor is only a stray picture: ignored.
static void ApplyDecisionChoice(HWND list)
{
    SiteDecision* entry = reinterpret_cast<SiteDecision*>(SelectedRow.lParam);
    if (!entry)
        return;
    wchar_t text[TextBufferLength];
    GetWindowTextW(DecisionEditor, text, TextLimit);
    LVITEMW cell = {};
    cell.iSubItem = 1;
    cell.pszText = text;
    SendMessageW(list, LVM_SETITEMTEXTW, SelectedRow.iItem, reinterpret_cast<LPARAM>(&cell));

    LRESULT index = SendMessageW(DecisionEditor, CB_FINDSTRINGEXACT, 0, reinterpret_cast<LPARAM>(text));
    if (index != CB_ERR)  // CB_GETITEMDATA would give CB_ERR, -1, as if it were a decision
        entry->decision = static_cast<int32_t>(SendMessageW(DecisionEditor, CB_GETITEMDATA, index, 0));
}

LRESULT CALLBACK SiteListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && DecisionEditor && reinterpret_cast<HWND>(lParam) == DecisionEditor &&
        HIWORD(wParam) == CBN_SELCHANGE)
        ApplyDecisionChoice(list);
    return CallWindowProcW(PreviousListProc, list, message, wParam, lParam);
}
