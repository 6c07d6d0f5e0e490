// A second start->exit baseline: as bare as bare.cpp, but importing at start-up
// every system DLL halvane.exe can use (USER32, GDI32, COMCTL32, ADVAPI32; the
// program itself loads the first three only when a dialog needs them), so that the
// platform's cost of loading and initialising them is told apart from what
// the program itself does. Nothing is called: the branch below is never taken
// (no command line starts with U+0001), it only keeps the imports.
#include <windows.h>
#include <commctrl.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR tail, int)
{
    if (tail && tail[0] == 1) {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        HKEY key;
        RegOpenKeyExW(HKEY_CURRENT_USER, tail, 0, KEY_READ, &key);
        GetStockObject(DEFAULT_GUI_FONT);
        CharUpperW(tail);
    }
    return 0;
}
