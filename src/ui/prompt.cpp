// The consent prompt: Always / Just this time / Never for one site and window.
#include "app/globals.h"
#include "decisions/registry_store.h"
#include "guard/input_guard.h"
#include "ui/display_text.h"
#include "ui/resource_ids.h"
#include "ui/dialogs.h"

#include <stdlib.h>

enum { MessageBufferLength = 512 };

// The message control draws its text with DrawText in its own font and width;
// measuring the same way tells whether a message will show whole.
struct MessageRoom {
    HDC dc;
    int width;
    int height;
    UINT format;
    int lineRoom;  // the width of all its lines together, and a break's space on each
};

static bool MessageFitsControl(const wchar_t* message, void* context)
{
    const MessageRoom* room = static_cast<const MessageRoom*>(context);
    RECT needed = {0, 0, room->width, 0};
    DrawTextW(room->dc, message, -1, &needed, room->format | DT_CALCRECT);
    return needed.bottom <= room->height && needed.right <= room->width;
}

// A message that fits is no wider on one line than all the control's lines
// side by side, with the space each break swallows.
static bool MessageMayFitControl(const wchar_t* message, void* context)
{
    const MessageRoom* room = static_cast<const MessageRoom*>(context);
    RECT needed = {0, 0, 0, 0};
    DrawTextW(room->dc, message, -1, &needed, (room->format & DT_NOPREFIX) | DT_SINGLELINE | DT_CALCRECT);
    return needed.right <= room->lineRoom;
}

static int MessageLineRoom(const MessageRoom& room)
{
    RECT line = {0, 0, 0, 0};
    DrawTextW(room.dc, L"W ", -1, &line, DT_SINGLELINE | DT_CALCRECT);
    int lines = line.bottom > 0 ? room.height / line.bottom : 0;
    return lines * (room.width + line.right);
}

// How a left-aligned static control lays out its text.
static UINT StaticTextFormat(HWND control)
{
    LONG style = GetWindowLongW(control, GWL_STYLE);
    UINT format = DT_LEFT | DT_EXPANDTABS | DT_WORDBREAK;
    if (style & SS_NOPREFIX)
        format |= DT_NOPREFIX;
    if (style & SS_EDITCONTROL)
        format |= DT_EDITCONTROL;
    return format;
}

// The site and title come from the web page: control characters and bidi marks
// are shown as U+FFFD so that the message cannot be split or reordered into a
// misleading one, each "&" goes into the message doubled so that the control
// draws it rather than underlining the next character, and both are shortened
// where the control has too little room, so that the question at the end of the
// message is never hidden below its edge. All of that is for the eye only: the
// keeper looks for the exact title and the exact site is what is remembered.
static void FormatMessageText(HWND dialog, wchar_t* message, const wchar_t* format)
{
    wchar_t* site = DuplicateForDisplay(LaunchRequest.site);
    wchar_t* title = DuplicateForDisplay(LaunchRequest.windowTitle);
    HWND control = GetDlgItem(dialog, IDC_MESSAGE);
    RECT client = {};
    GetClientRect(control, &client);
    MessageRoom room = {GetDC(control), client.right, client.bottom, StaticTextFormat(control), 0};
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ previousFont = font ? SelectObject(room.dc, font) : nullptr;
    room.lineRoom = MessageLineRoom(room);
    const MessageMeasure measure = {MessageFitsControl, MessageMayFitControl, &room};
    FormatPromptMessageToFit(format, site, title, message, PromptMessageLimit, &measure);
    if (previousFont)
        SelectObject(room.dc, previousFont);
    ReleaseDC(control, room.dc);
    free(title);
    free(site);
}

static void SetPromptTexts(HWND dialog)
{
    wchar_t workArea[MessageBufferLength + TextBufferLength];
    wchar_t* message = workArea;
    wchar_t* text = workArea + MessageBufferLength;

    SetDlgItemTextW(dialog, IDOK, LoadText(IDS_OK, text));
    SetDlgItemTextW(dialog, IDCANCEL, LoadText(IDS_CANCEL, text));
    SetDlgItemTextW(dialog, IDC_ALWAYS, LoadText(IDS_ALWAYS, text));
    SetDlgItemTextW(dialog, IDC_JUST_THIS_TIME, LoadText(IDS_JUST_THIS_TIME, text));
    SetDlgItemTextW(dialog, IDC_NEVER, LoadText(IDS_NEVER, text));
    FormatMessageText(dialog, message, LoadText(IDS_PROMPT_MESSAGE, text));
    SetDlgItemTextW(dialog, IDC_MESSAGE, message);
    SetDlgItemTextW(dialog, IDC_PREFERENCES, LoadText(IDS_PREFERENCES_BUTTON, text));
    SetWindowTextW(dialog, LoadText(IDS_PROMPT_CAPTION, text));
}

static void OnPromptInit(HWND dialog)
{
    CentreAndRaise(dialog);
    // The group has 16 and 20 pixel images; the platform scales one to 32.
    DialogIcon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(DialogIcon));
    SetPromptTexts(dialog);
    EnableWindow(GetDlgItem(dialog, IDOK), FALSE);  // until a choice is made
    ShowDespiteStartupInfo(dialog);
    StartInputGuard(dialog);
    // The first focus is given here, to Cancel: left to the platform, it would
    // fall where the disabled OK was, and Windows and Wine choose differently.
    SetFocus(GetDlgItem(dialog, IDCANCEL));
}

static void OnPromptCommand(HWND dialog, int id)
{
    switch (id) {
    case IDOK:
    case IDCANCEL:
        EndDialog(dialog, id);
        break;
    case IDC_ALWAYS:
    case IDC_JUST_THIS_TIME:
    case IDC_NEVER:
        EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
        PromptChoice = id;
        break;
    case IDC_PREFERENCES:
        // The prompt stays open as it was; only a confirmed Preferences dialog is saved.
        if (RunPreferences(dialog) == IDOK)
            SaveDecisions();
        break;
    }
}

INT_PTR CALLBACK PromptDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    WatchInputGuard(message, wParam, lParam);
    switch (message) {
    case WM_INITDIALOG:
        OnPromptInit(dialog);
        return FALSE;  // the focus is set
    case WM_COMMAND:
        OnPromptCommand(dialog, LOWORD(wParam));
        return TRUE;
    case WM_DESTROY:
        StopInputGuard();
        DestroyIcon(DialogIcon);
        DialogIcon = nullptr;
        return TRUE;
    }
    return FALSE;
}
