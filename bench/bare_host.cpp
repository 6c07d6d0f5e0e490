// The host start baseline: the least a native-messaging host can be. A static
// console program that reads one framed message and at once replies with a
// message the size of the host's first, then ends. With WITH_USER32 it also
// loads USER32, as the host must (it hands Halvane the foreground).
//
// With START_DIALOG it is the browser benchmark's floor host instead: on
// reading its message it at once starts the bare dialog beside it, out of
// Firefox's job as halvane-host.exe starts Halvane, and keeps the port open
// until the dialog ends. It says nothing: the floor's extension needs no word.
#include <windows.h>

static bool ReadFully(HANDLE in, char* buffer, DWORD size)
{
    while (size > 0) {
        DWORD got = 0;
        if (!ReadFile(in, buffer, size, &got, nullptr) || got == 0)
            return false;
        buffer += got;
        size -= got;
    }
    return true;
}

#ifdef START_DIALOG
static int StartDialog()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    wchar_t* slash = length && length < MAX_PATH ? wcsrchr(path, L'\\') : nullptr;
    static const wchar_t dialog[] = L"halvane_bench_bare_dialog.exe";
    if (!slash || (slash - path) + 1 + sizeof(dialog) / sizeof(wchar_t) > MAX_PATH)
        return 1;
    lstrcpyW(slash + 1, dialog);
    // Firefox ends its job with the host: the dialog must leave it, as Halvane does.
    BOOL inJob = FALSE;
    if (!IsProcessInJob(GetCurrentProcess(), nullptr, &inJob))
        inJob = FALSE;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(path, nullptr, nullptr, nullptr, FALSE,
                        DETACHED_PROCESS | (inJob ? CREATE_BREAKAWAY_FROM_JOB : 0), nullptr, nullptr, &startup,
                        &process))
        return 1;
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    return 0;
}
#endif

int wmain()
{
#ifdef WITH_USER32
    GetSystemMetrics(SM_CXSCREEN);
#endif
    static char body[64 * 1024];
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD length = 0;
    if (!ReadFully(in, reinterpret_cast<char*>(&length), 4) || length > sizeof(body) || !ReadFully(in, body, length))
        return 1;
#ifdef START_DIALOG
    return StartDialog();
#else
    static const char reply[] = "\x1e\0\0\0{\"event\":\"started\",\"pid\":1234}";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), reply, sizeof(reply) - 1, &written, nullptr);
    return 0;
#endif
}
