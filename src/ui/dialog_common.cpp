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

const wchar_t* LoadText(UINT id, wchar_t* buffer)
{
    buffer[0] = L'\0';
    LoadStringW(AppInstance, id, buffer, TextLimit);
    return buffer;
}
