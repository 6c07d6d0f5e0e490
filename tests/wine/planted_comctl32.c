/* A DLL planted beside halvane.exe under the name of a system library that is
   not a known DLL. Should the program ever load it, it leaves a marker file
   beside itself and ends the process with 77. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 32];
        DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
        while (length > 0 && path[length - 1] != L'\\' && path[length - 1] != L'/')
            --length;
        lstrcpyW(path + length, L"planted-dll-ran");
        HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (marker != INVALID_HANDLE_VALUE)
            CloseHandle(marker);
        ExitProcess(77);
    }
    return TRUE;
}
