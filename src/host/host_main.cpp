// halvane-host.exe: Firefox's native-messaging host for Halvane. It reads one
// request, starts halvane.exe for it, replies and ends; it never waits for Halvane.
//
// A console program: Firefox starts it with CREATE_NO_WINDOW, so no window
// shows, and started by hand (--register) its output can be read. Standard
// input and output are used through ReadFile and WriteFile alone, so no C
// runtime text mode ever changes a byte of a message.
#include "host/host_message.h"
#include "host/host_request.h"
#include "host/host_win32.h"

#include <windows.h>

#include <wchar.h>

namespace {

size_t ReadFromHandle(void* handle, char* buffer, size_t size)
{
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(handle), buffer, static_cast<DWORD>(size), &got, nullptr))
        return 0;
    return got;
}

void WriteReply(const std::string& body)
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

// Firefox ends its job, and everything in it, as soon as the host ends: Halvane
// must leave the job or it would die with its prompt. It is started suspended so
// that it may take the foreground before it can ask for it. Handles are never inherited.
bool StartHalvane(const HostRequest& request, std::string* reply)
{
    std::wstring exe;
    if (!ModulePath(&exe)) {
        *reply = ErrorReply(ErrorStart, "the host's own path is unknown");
        return false;
    }
    exe.resize(exe.rfind(L'\\') + 1);
    exe += L"halvane.exe";
    std::wstring commandLine;
    HostError error = BuildHalvaneCommandLine(exe, request, &commandLine);
    if (error != HostOk) {
        *reply = ErrorReply(error);
        return false;
    }

    BOOL inJob = FALSE;
    if (!IsProcessInJob(GetCurrentProcess(), nullptr, &inJob))
        inJob = FALSE;
    DWORD flags = CREATE_SUSPENDED | (inJob ? CREATE_BREAKAWAY_FROM_JOB : 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                        &process)) {
        DWORD failure = GetLastError();
        // A job without JOB_OBJECT_LIMIT_BREAKAWAY_OK refuses the flag so.
        *reply = inJob && failure == ERROR_ACCESS_DENIED ? ErrorReply(ErrorBreakaway)
                                                          : ErrorReply(ErrorStart, ErrorNumber(failure));
        return false;
    }
    // The browser is in front and started this host, so it may hand that on.
    AllowSetForegroundWindow(process.dwProcessId);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    *reply = SuccessReply(process.dwProcessId);
    return true;
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

    std::string body;
    HostError error = ReadMessage(ReadFromHandle, GetStdHandle(STD_INPUT_HANDLE), &body);
    HostRequest request;
    if (error == HostOk)
        error = ParseRequest(body, &request);
    std::string reply;
    bool started = error == HostOk && StartHalvane(request, &reply);
    if (error != HostOk)
        reply = ErrorReply(error);
    WriteReply(reply);
    return started ? 0 : 1;
}
