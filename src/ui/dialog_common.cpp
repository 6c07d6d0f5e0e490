// What the prompt and the Preferences dialog share.
#include "app/globals.h"
#include "ui/dialogs.h"

void CentreAndRaise(HWND dialog)
{
    RECT frame;
    GetWindowRect(dialog, &frame);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    // The primary screen, whatever monitor the browser is on; a dialog larger
    // than the screen gets a negative position.
    int x = (screenWidth - (frame.right - frame.left)) / 2;
    int y = (screenHeight - (frame.bottom - frame.top)) / 2;
    SetWindowPos(dialog, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE);
}

// A caller may start the program hidden (STARTF_USESHOWWINDOW with SW_HIDE, as
// programs often start their helpers), and Windows applies that start-up
// command to the process's first ShowWindow in place of what it asks. Left to
// the dialog manager's own call, it would hide the dialog, and a hidden prompt
// holds the single-instance guard for good. So the first call is spent here,
// at the end of the dialog's set-up: whatever the start-up command does to a
// dialog not yet shown, the dialog manager's call then shows it as usual.
void ShowDespiteStartupInfo(HWND dialog)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    if (startup.dwFlags & STARTF_USESHOWWINDOW)
        ShowWindow(dialog, SW_SHOWNORMAL);
}

const wchar_t* LoadText(UINT id, wchar_t* buffer)
{
    buffer[0] = L'\0';
    LoadStringW(AppInstance, id, buffer, TextLimit);
    return buffer;
}
