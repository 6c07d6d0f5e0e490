// The Preferences dialog: the remembered sites in a two-column list.
// Every change acts on the table at once; whoever opened the dialog saves on OK.
#include "app/globals.h"
#include "app/system_libraries.h"
#include "decisions/decision_table.h"
#include "policy/site_policy.h"
#include "ui/dialogs.h"
#include "ui/resource_ids.h"
#include "text/text.h"

#include <stdlib.h>
#include <wchar.h>

static wchar_t AddedRowPlaceholder[] = L"zzzz";  // sorts a new row after the others

static void SetPreferencesTexts(HWND dialog)
{
    wchar_t text[TextBufferLength];
    SetDlgItemTextW(dialog, IDOK, LoadText(IDS_OK, text));
    SetDlgItemTextW(dialog, IDCANCEL, LoadText(IDS_CANCEL, text));
    SetDlgItemTextW(dialog, IDC_ADD, LoadText(IDS_ADD, text));
    SetDlgItemTextW(dialog, IDC_REMOVE, LoadText(IDS_REMOVE, text));
    SetWindowTextW(dialog, LoadText(IDS_PREFERENCES_CAPTION, text));
}

static void SetDecisionCell(HWND list, int row, const SiteDecision* entry)
{
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = 1;
    item.pszText = entry->decision ? AllowText : DenyText;
    SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

// Returns the row the entry went to: where the list's ascending sort put it,
// or `at` while the sort style is off.
static int InsertSiteRow(HWND list, int at, wchar_t* label, SiteDecision* entry)
{
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_STATE;
    item.iItem = at;
    item.pszText = label;
    item.lParam = reinterpret_cast<LPARAM>(entry);
    int row = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    SetDecisionCell(list, row, entry);
    return row;
}

// The list's ascending sort puts a new row before the first row whose label
// does not sort before its own, comparing the labels as lstrcmpW does (in the
// thread's locale: "a" before "A" before "b"). It searches for that row one
// comparison per row, so a table handed over row by row took minutes to show
// at 100k sites. The fill therefore puts the rows in that order itself and
// appends them with the sort style off; the style then goes back, so that a
// row added later is placed by the list as before.

// Equal labels: the later slot first, as the list puts a new row before its equals.
static int CompareInRowOrder(const void* a, const void* b)
{
    uint32_t first = *static_cast<const uint32_t*>(a);
    uint32_t second = *static_cast<const uint32_t*>(b);
    int order = lstrcmpW(SiteDecisions.slots[first]->domain, SiteDecisions.slots[second]->domain);
    if (order)
        return order;
    return first < second ? 1 : -1;
}

// The slots that hold an entry, in the order of their rows; `count` of them.
static uint32_t* SlotsInRowOrder(uint32_t* count)
{
    uint32_t* slots = static_cast<uint32_t*>(AllocateOrDie(uint64_t(SiteDecisions.slotCount) * sizeof(uint32_t)));
    *count = 0;
    for (uint32_t i = 0; i < SiteDecisions.slotCount; ++i) {
        if (SiteDecisions.slots[i])
            slots[(*count)++] = i;
    }
    qsort(slots, *count, sizeof(uint32_t), CompareInRowOrder);
    return slots;
}

// A row of a site the administrators' policy decides, shown as they wrote it.
// It stands for no entry of the table (its item data is null), so nothing the
// user does to it reaches the table, and the save never writes it.
static int InsertPolicyRow(HWND list, int at, const PolicyEntry& entry, wchar_t* decision)
{
    static const wchar_t subdomains[] = L"[*.]";
    wchar_t label[TextBufferLength + 8];  // "[*.]" and a host of up to 253 characters
    uint32_t length = 0;
    for (const wchar_t* c = entry.withSubdomains ? subdomains : L""; *c; ++c)
        label[length++] = *c;
    for (const wchar_t* c = entry.host; *c && length < TextBufferLength + 7; ++c)
        label[length++] = *c;
    label[length] = L'\0';

    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = at;
    item.pszText = label;
    int row = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    LVITEMW cell = {};
    cell.iSubItem = 1;
    cell.pszText = decision;
    SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell));
    return row;
}

// The policy's rows come first, blocked then allowed, in the administrators'
// own order; the user's own follow them. Returns how many there are.
static int FillPolicyRows(HWND list)
{
    wchar_t allowed[TextBufferLength], blocked[TextBufferLength];
    LoadText(IDS_POLICY_ALLOWED, allowed);
    LoadText(IDS_POLICY_BLOCKED, blocked);
    int row = 0;
    for (uint32_t i = 0; i < AdminPolicy.blocked.count; ++i)
        InsertPolicyRow(list, row++, AdminPolicy.blocked.entries[i], blocked);
    for (uint32_t i = 0; i < AdminPolicy.allowed.count; ++i)
        InsertPolicyRow(list, row++, AdminPolicy.allowed.entries[i], allowed);
    return row;
}

static void FillSiteList(HWND list)
{
    uint32_t count = 0;
    uint32_t* slots = SlotsInRowOrder(&count);
    LONG style = GetWindowLongW(list, GWL_STYLE);
    // While redrawing, the list updates its scroll bars and repaints for every row.
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SetWindowLongW(list, GWL_STYLE, style & ~LVS_SORTASCENDING);
    SendMessageW(list, LVM_SETITEMCOUNT, count + AdminPolicy.blocked.count + AdminPolicy.allowed.count, 0);
    int policyRows = FillPolicyRows(list);
    for (uint32_t row = 0; row < count; ++row) {
        SiteDecision* entry = SiteDecisions.slots[slots[row]];
        InsertSiteRow(list, policyRows + static_cast<int>(row), entry->domain, entry);
    }
    SetWindowLongW(list, GWL_STYLE, style);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    free(slots);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
}

static void InsertColumn(HWND list, int index, int width, UINT textId)
{
    wchar_t text[TextBufferLength];
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = const_cast<wchar_t*>(LoadText(textId, text));
    column.iSubItem = index;
    SendMessageW(list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
}

static void SetUpSiteList(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_SITE_LIST);
    // Installed before any column or row, so every later message passes through it.
    PreviousListProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SiteListProc)));
    RECT client;
    GetClientRect(list, &client);
    int width = client.right;  // still empty, so no scroll bar narrows it
    InsertColumn(list, 0, (3 * width) / 5, IDS_COLUMN_DOMAIN);
    InsertColumn(list, 1, (2 * width) / 5, IDS_COLUMN_DECISION);
    FillSiteList(list);
}

static void ClearSelectedRow()
{
    SelectedRow = NMLISTVIEW{};
}

static void OnPreferencesInit(HWND dialog)
{
    CentreAndRaise(dialog);
    // Opened from the prompt this is the prompt's icon; opened alone, there is none.
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(DialogIcon));
    SetPreferencesTexts(dialog);
    CreateDecisionEditor(dialog);
    SetUpSiteList(dialog);
    ClearSelectedRow();
    EnableWindow(GetDlgItem(dialog, IDC_REMOVE), FALSE);
    ShowDespiteStartupInfo(dialog);
}

// A new label is lower-cased in the notification's own buffer, so the list
// shows what the table holds. An empty or cancelled edit keeps the old label.
static BOOL OnEndLabelEdit(HWND dialog, NMLVDISPINFOW* info)
{
    wchar_t* text = info->item.pszText;
    SiteDecision* entry = reinterpret_cast<SiteDecision*>(info->item.lParam);
    BOOL accepted = text && *text && entry;
    if (accepted) {
        LowerCaseAscii(text);
        RenameDecision(entry, text, static_cast<uint32_t>(wcslen(text)));
    }
    SetWindowLongPtrW(dialog, DWLP_MSGRESULT, accepted);
    return accepted;
}

static void ShowEditor(int command)
{
    if (DecisionEditor)
        ShowWindow(DecisionEditor, command);
}

static void OnItemChanged(HWND dialog, const NMLISTVIEW* change)
{
    if (change->uNewState == change->uOldState) {
        ShowEditor(SW_SHOW);  // only the text changed; the editor stays where it is
    } else if (change->uNewState & (LVIS_FOCUSED | LVIS_SELECTED)) {
        SelectedRow = *change;
        // A policy's row (no entry behind it) can be neither removed nor switched.
        bool usersOwn = change->lParam != 0;
        EnableWindow(GetDlgItem(dialog, IDC_REMOVE), usersOwn);
        if (!usersOwn) {
            ShowEditor(SW_HIDE);
        } else if (DecisionEditor) {
            ShowWindow(DecisionEditor, SW_SHOW);
            PlaceDecisionEditor(dialog);
        }
    } else {
        ClearSelectedRow();
        EnableWindow(GetDlgItem(dialog, IDC_REMOVE), FALSE);
        ShowEditor(SW_HIDE);
    }
}

// A policy's row keeps its label: the edit does not even begin.
static BOOL OnBeginLabelEdit(HWND dialog, const NMLVDISPINFOW* info)
{
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = info->item.iItem;
    SendMessageW(info->hdr.hwndFrom, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    BOOL refused = !item.lParam;
    SetWindowLongPtrW(dialog, DWLP_MSGRESULT, refused);
    return refused;
}

static BOOL OnPreferencesNotify(HWND dialog, WPARAM wParam, NMHDR* header)
{
    if (LOWORD(wParam) != IDC_SITE_LIST)
        return FALSE;
    if (header->code == LVN_BEGINLABELEDITW)
        return OnBeginLabelEdit(dialog, reinterpret_cast<NMLVDISPINFOW*>(header));
    if (header->code == LVN_ENDLABELEDITW)
        return OnEndLabelEdit(dialog, reinterpret_cast<NMLVDISPINFOW*>(header));
    if (header->code == LVN_ITEMCHANGED)
        OnItemChanged(dialog, reinterpret_cast<NMLISTVIEW*>(header));
    return FALSE;
}

// A new Deny entry with an empty domain; the user names it in the label edit.
static void AddSite(HWND dialog)
{
    wchar_t* domain = static_cast<wchar_t*>(AllocateOrDie(sizeof(wchar_t)));
    domain[0] = L'\0';
    SiteDecision* entry = AddDecision(domain, DecisionDeny);
    HWND list = GetDlgItem(dialog, IDC_SITE_LIST);

    int row = InsertSiteRow(list, 0, AddedRowPlaceholder, entry);
    LVITEMW label = {};
    label.iSubItem = 0;
    label.pszText = entry->domain;
    SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&label));  // the row does not move
    SetFocus(list);
    SendMessageW(list, LVM_EDITLABELW, row, 0);
}

static void RemoveSite(HWND dialog)
{
    SiteDecision* entry = reinterpret_cast<SiteDecision*>(SelectedRow.lParam);
    if (!entry)
        return;
    int row = SelectedRow.iItem;
    SendMessageW(GetDlgItem(dialog, IDC_SITE_LIST), LVM_DELETEITEM, row, 0);
    RemoveDecision(entry);
    ClearSelectedRow();
    EnableWindow(GetDlgItem(dialog, IDC_REMOVE), FALSE);
}

static BOOL OnPreferencesCommand(HWND dialog, WPARAM wParam)
{
    if (HIWORD(wParam))
        return TRUE;  // a control's notification
    switch (LOWORD(wParam)) {
    case IDOK:
    case IDCANCEL:
        EndDialog(dialog, LOWORD(wParam));
        return FALSE;
    case IDC_ADD:
        AddSite(dialog);
        return FALSE;
    case IDC_REMOVE:
        RemoveSite(dialog);
        return FALSE;
    }
    return TRUE;
}

// The site list is a common-controls list view. The library is loaded and its
// class registered only when the dialog is about to open: most runs never show
// it, and loading the library costs a remembered Deny and the prompt a good
// share of their start-up time.
static void RegisterListViewClass()
{
    typedef BOOL(WINAPI * InitCall)(const INITCOMMONCONTROLSEX*);
    static InitCall initCommonControls;
    if (!initCommonControls) {
        // By full path: a comctl32.dll beside the program must never run in it.
        HMODULE library = Libraries.LoadSystemLibrary(L"comctl32.dll");
        initCommonControls = library ? reinterpret_cast<InitCall>(reinterpret_cast<void*>(
                                           GetProcAddress(library, "InitCommonControlsEx")))
                                     : nullptr;
    }
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
    if (initCommonControls)
        initCommonControls(&controls);
}

INT_PTR RunPreferences(HWND owner)
{
    RegisterListViewClass();
    return DialogBoxParamW(AppInstance, MAKEINTRESOURCEW(IDD_PREFERENCES), owner, PreferencesDialogProc, 0);
}

INT_PTR CALLBACK PreferencesDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnPreferencesInit(dialog);
        return FALSE;  // the dialog manager gives the focus to no control
    case WM_NOTIFY:
        return OnPreferencesNotify(dialog, wParam, reinterpret_cast<NMHDR*>(lParam));
    case WM_COMMAND:
        return OnPreferencesCommand(dialog, wParam);
    case WM_DESTROY:
        DestroyDecisionEditor();
        return FALSE;
    }
    return FALSE;
}
