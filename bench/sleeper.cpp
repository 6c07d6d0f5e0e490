// The keeper benchmark's baseline: a process that starts like halvane.exe and
// then only sleeps (the command line gives the milliseconds), so its CPU time
// over the measured minute is what merely existing costs under this platform.
#include <windows.h>

#include <wchar.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR tail, int)
{
    DWORD milliseconds = tail && *tail ? static_cast<DWORD>(_wtoi(tail)) : 60000;
    Sleep(milliseconds);
    return 0;
}
