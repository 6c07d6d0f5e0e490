// The start->prompt baseline: a program that shows one template dialog and
// nothing else, so that what the prompt adds (languages, the decision table,
// the icon, its texts) stands out from what any modal dialog costs.
//
// Built twice: plain (the baseline), and with WITH_COMMON_CONTROLS, which
// first loads the common controls as halvane.exe does before its prompt, to
// show how much of the difference is that library's start-up.
#include <windows.h>
#ifdef WITH_COMMON_CONTROLS
#include <commctrl.h>
#endif

#include "bare_dialog_ids.h"

static INT_PTR CALLBACK BareDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
#ifdef WITH_COMMON_CONTROLS
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
#endif
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_BARE), nullptr, BareDialogProc, 0);
    return 0;
}
