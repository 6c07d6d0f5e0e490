// halvane-host.exe: Firefox's native-messaging host for Halvane. Firefox starts
// it for runtime.connectNative and posts one request; the host starts
// halvane.exe for it and stays connected while Halvane runs, sending a message
// for each change it sees: "started", "asking" (the prompt shows), "kept" (the
// window is on top) and "ended" with what the end means (host_watch.h). Halvane
// itself says nothing and never waits for the host: when the port closes, the
// host ends at once and Halvane goes on, and a keep ends when the extension
// takes its title preface away.
//
// A console program: Firefox starts it with CREATE_NO_WINDOW, so no window
// shows, and started by hand (--register) its output can be read. Standard
// input and output are used through ReadFile and WriteFile alone, so no C
// runtime text mode ever changes a byte of a message. Exit code: 0 after
// "ended", after "busy" (an answer, not a failure) and when the port closed;
// 1 after an "error"; 2 for the usage text.
#include "decisions/registry_store.h"
#include "host/host_message.h"
#include "host/host_request.h"
#include "host/host_watch.h"
#include "host/host_win32.h"
#include "keeper/keeper_logic.h"

#include <windows.h>

#include <wchar.h>

namespace {

// Set by the reader thread once the port has closed: standard input ended or broke.
HANDLE PortClosed;

size_t ReadFromHandle(void* handle, char* buffer, size_t size)
{
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(handle), buffer, static_cast<DWORD>(size), &got, nullptr))
        return 0;
    return got;
}

// A message that cannot be written has nobody left to read it: the port has
// closed, and the reader thread is about to say so.
void Send(const std::string& body)
{
    std::string framed = FrameMessage(body);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const char* data = framed.data();
    DWORD left = static_cast<DWORD>(framed.size());
    while (left > 0) {
        DWORD written = 0;
        if (!WriteFile(out, data, left, &written, nullptr) || written == 0)
            return;
        data += written;
        left -= written;
    }
}

// Nothing the extension posts after the request means anything; only the end
// of the input does. A thread of its own, since a read from the browser's pipe
// blocks and cannot be waited on together with Halvane's process.
DWORD WINAPI ReadUntilPortCloses(void*)
{
    char discarded[512];
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), discarded, sizeof(discarded), &got, nullptr) && got > 0) {
    }
    SetEvent(PortClosed);
    return 0;
}

// Without the event or the thread the host cannot see the port close; it then
// stays until Halvane ends, which Firefox's own clean-up also allows for.
void WatchPort()
{
    PortClosed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!PortClosed)
        return;
    HANDLE reader = CreateThread(nullptr, 64 * 1024, ReadUntilPortCloses, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                 nullptr);
    if (reader)
        CloseHandle(reader);
}

bool PortHasClosed(DWORD waitMs)
{
    if (!PortClosed) {
        Sleep(waitMs);
        return false;
    }
    return WaitForSingleObject(PortClosed, waitMs) == WAIT_OBJECT_0;
}

// Halvane's single-instance mutex exists while one runs. Opening it takes
// nothing from that Halvane; a mutex that may not be opened exists all the same.
bool HalvaneRuns()
{
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"HalvaneExe");
    if (!mutex)
        return GetLastError() == ERROR_ACCESS_DENIED;
    CloseHandle(mutex);
    return true;
}

enum OtherHalvane { NoneRuns, StillRuns, PortGone };

// A Halvane whose keep was let go a moment ago may take a second to notice:
// a request made meanwhile waits for it rather than be lost to its mutex.
OtherHalvane WaitForOtherHalvane()
{
    DWORD start = GetTickCount();
    while (HalvaneRuns()) {
        if (GetTickCount() - start >= BusyWaitMs)
            return StillRuns;
        if (PortHasClosed(BusyPollMs))
            return PortGone;
    }
    return NoneRuns;
}

// Firefox ends its job, and everything in it, as soon as the host ends: Halvane
// must leave the job or it would die with its prompt. It is started suspended so
// that it may take the foreground before it can ask for it. Handles are never inherited.
HANDLE StartHalvane(const HostRequest& request, DWORD* processId)
{
    std::wstring exe;
    if (!ModulePath(&exe)) {
        Send(ErrorEvent(ErrorStart, "the host's own path is unknown"));
        return nullptr;
    }
    exe.resize(exe.rfind(L'\\') + 1);
    exe += L"halvane.exe";
    std::wstring commandLine;
    HostError error = BuildHalvaneCommandLine(exe, request, &commandLine);
    if (error != HostOk) {
        Send(ErrorEvent(error));
        return nullptr;
    }

    BOOL inJob = FALSE;
    if (!IsProcessInJob(GetCurrentProcess(), nullptr, &inJob))
        inJob = FALSE;
    // Detached, it gets none of the host's standard handles either: Wine would
    // otherwise copy them, and the browser's pipe would stay open while Halvane runs.
    DWORD flags = CREATE_SUSPENDED | DETACHED_PROCESS | (inJob ? CREATE_BREAKAWAY_FROM_JOB : 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                        &process)) {
        DWORD failure = GetLastError();
        // A job without JOB_OBJECT_LIMIT_BREAKAWAY_OK refuses the flag so.
        Send(inJob && failure == ERROR_ACCESS_DENIED ? ErrorEvent(ErrorBreakaway)
                                                      : ErrorEvent(ErrorStart, ErrorNumber(failure)));
        return nullptr;
    }
    // The browser is in front and started this host, so it may hand that on.
    AllowSetForegroundWindow(process.dwProcessId);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    *processId = process.dwProcessId;
    return process.hProcess;
}

struct WindowSearch {
    DWORD processId;
    bool shown;
};

BOOL CALLBACK FindShownWindow(HWND window, LPARAM context)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    search->shown = owner == search->processId && IsWindowVisible(window);
    return !search->shown;
}

// The prompt, or Preferences opened from it: any shown top-level window of Halvane's.
bool HalvaneWindowShown(DWORD processId)
{
    WindowSearch search = {processId, false};
    EnumWindows(FindShownWindow, reinterpret_cast<LPARAM>(&search));
    return search.shown;
}

// The window Halvane's keeper takes: the first found class by class, its whole
// title matched as FindWindowW matches it.
bool KeptWindowTopmost(const wchar_t* title)
{
    for (const wchar_t* className : BrowserWindowClasses) {
        HWND window = FindWindowW(className, title);
        if (window)
            return (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    }
    return false;
}

// As Halvane reads it: a value of exactly four bytes, whatever its type, is a decision.
StoredDecision ReadStoredDecision(const std::wstring& site)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, DECISIONS_KEY_PATH, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return StoredNone;
    int32_t value = -1;
    DWORD size = sizeof(value);
    LSTATUS status = RegQueryValueExW(key, site.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || size != sizeof(value))
        return StoredNone;
    return value == 0 ? StoredDeny : value == 1 ? StoredAllow : StoredNone;
}

// Until Halvane ends ("ended" is sent) or the port closes (nothing more is).
// A look taken while Halvane was ending is dropped: it would describe no
// running Halvane. Once the window is kept, Halvane shows nothing more until it
// ends, and its end is waited on, not looked for: a keep may last hours, so
// the looks slow down then (a window already on top before Halvane ran reads as
// kept early, and its prompt must still be told).
void Watch(HANDLE halvane, DWORD processId, const HostRequest& request)
{
    HANDLE waits[2] = {halvane, PortClosed};
    WatchState state;
    for (;;) {
        DWORD interval = state.kept ? KeptWatchIntervalMs : WatchIntervalMs;
        DWORD woken = WaitForMultipleObjects(PortClosed ? 2 : 1, waits, FALSE, interval);
        if (woken == WAIT_OBJECT_0)
            break;
        if (woken != WAIT_TIMEOUT)
            return;
        WatchSample sample = {HalvaneWindowShown(processId), KeptWindowTopmost(request.windowTitle.c_str())};
        if (WaitForSingleObject(halvane, 0) == WAIT_OBJECT_0)
            break;
        for (const std::string& message : WatchStep(&state, sample))
            Send(message);
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(halvane, &exitCode);
    Send(EndedEvent(EndOutcome(state, exitCode, ReadStoredDecision(request.site), HalvaneRuns()), exitCode));
}

int Serve()
{
    std::string body;
    HostError error = ReadMessage(ReadFromHandle, GetStdHandle(STD_INPUT_HANDLE), &body);
    HostRequest request;
    if (error == HostOk)
        error = ParseRequest(body, &request);
    if (error != HostOk) {
        Send(ErrorEvent(error));
        return 1;
    }
    WatchPort();
    switch (WaitForOtherHalvane()) {
    case PortGone:
        return 0;
    case StillRuns:
        Send(BusyEvent());
        return 0;
    case NoneRuns:
        break;
    }
    DWORD processId = 0;
    HANDLE halvane = StartHalvane(request, &processId);
    if (!halvane)
        return 1;
    Send(StartedEvent(processId));
    Watch(halvane, processId, request);
    CloseHandle(halvane);
    return 0;
}

// Double-clicked, the host would sit waiting in an empty console.
bool InputIsConsole()
{
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

int Usage()
{
    static const char text[] =
        "halvane-host.exe is started by Firefox for Halvane's extension.\r\n"
        "  halvane-host.exe --register     register it for Firefox (this user)\r\n"
        "  halvane-host.exe --unregister   remove that registration\r\n";
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, sizeof(text) - 1, &written, nullptr);
    return 2;
}

}  // namespace

bool ModulePath(std::wstring* path)
{
    path->assign(MaxCommandLineChars + 1, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, &(*path)[0], static_cast<DWORD>(path->size()));
    if (length == 0 || length >= path->size())
        return false;
    path->resize(length);
    return path->find(L'\\') != std::wstring::npos;
}

// Firefox passes the manifest's path and the extension's id; neither is needed.
int wmain(int argc, wchar_t** argv)
{
    if (argc == 2 && wcscmp(argv[1], L"--register") == 0)
        return RegisterHost();
    if (argc == 2 && wcscmp(argv[1], L"--unregister") == 0)
        return UnregisterHost();
    if (argc < 2 && InputIsConsole())
        return Usage();
    return Serve();
}
