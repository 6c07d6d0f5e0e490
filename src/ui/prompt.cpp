// The consent prompt: Always / Just this time / Never for one site and window.
#include "app/globals.h"
#include "decisions/registry_store.h"
#include "ui/display_text.h"
#include "ui/resource_ids.h"
#include "ui/dialogs.h"

#include <stdlib.h>

enum {
    MessageBufferLength = 512,
    MessageLimit = 510,  // the formatted message: at most 509 characters and its terminator
};

// The site and title come from the web page: control characters and bidi marks
// are shown as U+FFFD so that the message cannot be split or reordered into a
// misleading one. The keeper still looks for the exact title.
static void FormatMessageText(wchar_t* message, const wchar_t* format)
{
    wchar_t* site = DuplicateForDisplay(LaunchRequest.site);
    wchar_t* title = DuplicateForDisplay(LaunchRequest.windowTitle);
    FormatPromptMessage(format, site, title, message, MessageLimit);
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
    FormatMessageText(message, LoadText(IDS_PROMPT_MESSAGE, text));
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

INT_PTR CALLBACK PromptDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        OnPromptInit(dialog);
        return TRUE;
    case WM_COMMAND:
        OnPromptCommand(dialog, LOWORD(wParam));
        return TRUE;
    case WM_DESTROY:
        DestroyIcon(DialogIcon);
        DialogIcon = nullptr;
        return TRUE;
    }
    return FALSE;
}
