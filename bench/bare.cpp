// The start->exit baseline: the least a static Win32 GUI program can be. Its
// start and exit time is what the platform costs before the program does anything.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return 0;
}
