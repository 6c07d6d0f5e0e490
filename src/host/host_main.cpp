// halvane-host.exe: Firefox's native-messaging host for Halvane. Firefox starts
// it for runtime.connectNative and posts one request; the host starts
// halvane.exe for it and stays connected while Halvane runs, sending a message
// for each change it sees: "started", "asking" (the prompt shows), "kept" (the
// window is on top) and "ended" with what the end means (host_watch.h). Halvane
// itself says nothing and never waits for the host. Until the window is kept,
// the request can be taken back: the extension posts {"withdraw":true}, or its
// port closes, and the host ends that Halvane (nothing is stored before an
// answer). Once the window is kept, a closed port ends the host alone and
// Halvane goes on; the keep ends when the extension takes its title preface away.
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
#include "policy/policy_registry.h"
#include "policy/site_policy.h"
#include "text/text.h"

#include <windows.h>

#include <wchar.h>

namespace {

// Set by the reader thread: the port has closed (standard input ended or
// broke), and the extension has taken its request back.
HANDLE PortClosed;
HANDLE Withdrawn;

// The browser window the request is about, as the host identified it before
// Halvane started: by its handle from then on, since the page may retitle it
// at any moment and a lost window must still be lowered.
struct BrowserWindow {
    HWND window;
    DWORD processId, threadId;
};
BrowserWindow Browser;

// Set by the hook on Halvane's windows when one of its top-level windows is
// made or shows, with that window; taken by the look that counts it.
bool HalvaneShowedWindow;
HWND HalvaneNewWindow;

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

// After the request the extension posts only a withdrawal; anything else is
// read and dropped, and input that is not framed at all is read to its end. A
// thread of its own, since a read from the browser's pipe blocks and cannot be
// waited on together with Halvane's process.
DWORD WINAPI ReadUntilPortCloses(void*)
{
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    std::string body;
    HostError error;
    while ((error = ReadMessage(ReadFromHandle, in, &body)) != ErrorTruncated) {
        if (error == HostOk && IsWithdrawal(body))
            SetEvent(Withdrawn);
        if (error == ErrorLength) {
            char discarded[512];
            while (ReadFromHandle(in, discarded, sizeof(discarded)) > 0) {
            }
            break;
        }
    }
    SetEvent(PortClosed);
    return 0;
}

// Without the events or the thread the host cannot hear the port; it then
// stays until Halvane ends, which Firefox's own clean-up also allows for.
void WatchPort()
{
    PortClosed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Withdrawn = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!PortClosed || !Withdrawn) {
        PortClosed = Withdrawn = nullptr;
        return;
    }
    HANDLE reader = CreateThread(nullptr, 64 * 1024, ReadUntilPortCloses, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                 nullptr);
    if (reader)
        CloseHandle(reader);
}

// The hook on Halvane's windows is called as this thread takes its messages.
void TakeMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
}

// WaitForMultipleObjects that takes this thread's messages meanwhile: a thread
// with an out-of-context hook must, or the hook is never called.
DWORD WaitTakingMessages(DWORD count, const HANDLE* waits, DWORD waitMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        DWORD left = elapsed >= waitMs ? 0 : waitMs - elapsed;
        DWORD woken = MsgWaitForMultipleObjects(count, waits, FALSE, left, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + count)
            return woken;
        TakeMessages();
    }
}

enum PortNews { PortQuiet, PortGone, PortWithdrew };

// What the port said within waitMs, or with halvane (if any) ended first, PortQuiet.
PortNews WaitForPort(DWORD waitMs, HANDLE halvane = nullptr, bool* halvaneEnded = nullptr)
{
    HANDLE waits[3];
    DWORD count = 0;
    if (halvane)
        waits[count++] = halvane;
    if (PortClosed) {
        waits[count++] = PortClosed;
        waits[count++] = Withdrawn;
    }
    DWORD woken = WaitTakingMessages(count, waits, waitMs);
    if (woken >= WAIT_OBJECT_0 + count)
        return PortQuiet;
    HANDLE signalled = waits[woken - WAIT_OBJECT_0];
    if (halvaneEnded)
        *halvaneEnded = signalled == halvane;
    return signalled == PortClosed ? PortGone : signalled == Withdrawn ? PortWithdrew : PortQuiet;
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

enum OtherHalvane { NoneRuns, StillRuns, PortGoneFirst, WithdrawnFirst };

// A Halvane whose keep was let go a moment ago may take a second to notice:
// a request made meanwhile waits for it rather than be lost to its mutex.
OtherHalvane WaitForOtherHalvane()
{
    DWORD start = GetTickCount();
    for (;;) {
        // Taken back even before anything started: nothing is.
        PortNews news = WaitForPort(0);
        if (news != PortQuiet)
            return news == PortGone ? PortGoneFirst : WithdrawnFirst;
        if (!HalvaneRuns())
            return NoneRuns;
        if (GetTickCount() - start >= BusyWaitMs)
            return StillRuns;
        news = WaitForPort(BusyPollMs);
        if (news != PortQuiet)
            return news == PortGone ? PortGoneFirst : WithdrawnFirst;
    }
}

// Whether this process's job refuses CREATE_BREAKAWAY_FROM_JOB; when the job
// cannot be read, an access denied is taken to mean so.
bool JobRefusesBreakaway()
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    if (!QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &limits, sizeof(limits), nullptr))
        return true;
    return (limits.BasicLimitInformation.LimitFlags &
            (JOB_OBJECT_LIMIT_BREAKAWAY_OK | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK)) == 0;
}

// Halvane makes windows only to ask: none on a stored decision, none while it
// keeps. Its prompt and the Preferences it opens are dialogs, shown as soon as
// they are made (Wine 8 reports their making, not their showing). The event
// comes after the fact, so the window may be gone by then, answered at once:
// it was made, so it showed. A control shows inside its dialog before the
// dialog does, so a child window still there tells nothing.
void CALLBACK NoteHalvaneWindow(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD, DWORD)
{
    if (object != OBJID_WINDOW || child != CHILDID_SELF || (event != EVENT_OBJECT_CREATE && event != EVENT_OBJECT_SHOW))
        return;
    wchar_t className[8] = {};
    bool gone = !IsWindow(window);
    bool topLevel = (GetWindowLongW(window, GWL_STYLE) & WS_CHILD) == 0;
    bool dialog = GetClassNameW(window, className, 8) && wcscmp(className, L"#32770") == 0;
    if (gone || (topLevel && (event == EVENT_OBJECT_SHOW || dialog))) {
        HalvaneShowedWindow = true;
        HalvaneNewWindow = window;
    }
}

// Windows reports each window Halvane makes and shows, however briefly, where
// a look every 0.1 s can miss a prompt answered with Escape at once. Out of
// context, so nothing of the host's goes into Halvane. Set before Halvane runs
// a single instruction; without it, the looks alone tell.
void HookHalvaneWindows(DWORD processId)
{
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the hook's calls come through this thread's queue
    SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_SHOW, nullptr, NoteHalvaneWindow, processId, 0,
                    WINEVENT_OUTOFCONTEXT);
}

// Firefox ends its job, and everything in it, as soon as the host ends: Halvane
// must leave the job or it would die with its prompt. It is started suspended so
// that it may take the foreground before it can ask for it, and so that the hook
// on its windows is set before it can show one. Handles are never inherited.
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
        // A job without JOB_OBJECT_LIMIT_BREAKAWAY_OK refuses the flag so; an
        // access denied in a job that allows it has another cause.
        bool breakaway = inJob && failure == ERROR_ACCESS_DENIED && JobRefusesBreakaway();
        Send(breakaway ? ErrorEvent(ErrorBreakaway) : ErrorEvent(ErrorStart, ErrorNumber(failure)));
        return nullptr;
    }
    // The browser is in front and started this host, so it may hand that on.
    AllowSetForegroundWindow(process.dwProcessId);
    HookHalvaneWindows(process.dwProcessId);
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
HWND FindKeptWindow(const wchar_t* title)
{
    for (const wchar_t* className : BrowserWindowClasses) {
        HWND window = FindWindowW(className, title);
        if (window)
            return window;
    }
    return nullptr;
}

bool IsTopmost(HWND window)
{
    return window && (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

BrowserWindow IdentifyBrowserWindow(const wchar_t* title)
{
    BrowserWindow found = {FindKeptWindow(title), 0, 0};
    if (found.window)
        found.threadId = GetWindowThreadProcessId(found.window, &found.processId);
    return found;
}

// Whether the handle still names that browser window, whatever its title is
// now: a window of one of the browser's classes, of the same thread of the
// same process. A closed window's handle may come to name another window.
bool IsStillBrowserWindow(const BrowserWindow& known)
{
    if (!known.window || !IsWindow(known.window))
        return false;
    DWORD processId = 0;
    DWORD threadId = GetWindowThreadProcessId(known.window, &processId);
    if (threadId != known.threadId || processId != known.processId)
        return false;
    wchar_t className[64];
    if (!GetClassNameW(known.window, className, 64))
        return false;
    for (const wchar_t* browserClass : BrowserWindowClasses) {
        if (EqualIgnoringAsciiCase(className, browserClass))
            return true;
    }
    return false;
}

// The browser window is the one identified before Halvane started. One that
// was not found then (not yet titled) is identified by the first look that
// finds it by its title, as Halvane's keeper would.
bool BrowserWindowTopmost(const wchar_t* title)
{
    if (!Browser.window)
        Browser = IdentifyBrowserWindow(title);
    return IsStillBrowserWindow(Browser) && IsTopmost(Browser.window);
}

// A Halvane that did not end by its own road (ended by the host, killed,
// crashed) did not take the window out of the topmost band as it would have:
// the host does, unless the window was on top before that Halvane started.
// The window is found by its handle, not its title: the page may have
// retitled it after Halvane raised it and before Halvane noticed.
void LowerWhatHalvaneRaised(const WatchState& state, const wchar_t* title)
{
    if (!state.topmostBefore && BrowserWindowTopmost(title))
        SetWindowPos(Browser.window, HWND_NOTOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
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
    return value == 0 ? StoredDeny : value == 1 ? StoredAllow : StoredOther;
}

// What Halvane will do, read as it reads it: the administrators' policy,
// then the site's stored decision, then the policy's default.
SiteRoad ReadRoad(const std::wstring& site)
{
    SitePolicy policy = {};
    LoadPolicy(&policy);
    StoredDecision stored = ReadStoredDecision(site);
    int32_t decision = stored == StoredAllow ? 1 : stored == StoredNone ? -1 : 0;
    SiteRoad road = ChooseRoad(&policy, site.c_str(), decision);
    ClearPolicy(&policy);
    return road;
}

// Whether a window of Halvane's showed since the last look. One that is made
// and not shown yet (a dialog is made hidden, then shown) is left to a later
// look: the prompt is told as asking only once the user can see it.
bool TakeShowingSinceLook()
{
    TakeMessages();
    if (!HalvaneShowedWindow || (IsWindow(HalvaneNewWindow) && !IsWindowVisible(HalvaneNewWindow)))
        return false;
    HalvaneShowedWindow = false;
    return true;
}

std::vector<std::string> Look(WatchState* state, DWORD processId, const wchar_t* title)
{
    bool showedSince = TakeShowingSinceLook();
    WatchSample sample = {HalvaneWindowShown(processId), BrowserWindowTopmost(title), showedSince};
    return WatchStep(state, sample);
}

void SendAll(const std::vector<std::string>& messages)
{
    for (const std::string& message : messages)
        Send(message);
}

// Until Halvane ends ("ended" is sent) or the port closes once the window is
// kept (nothing more is). A look taken while Halvane was ending is dropped: it
// would describe no running Halvane. Once the window is kept, Halvane shows
// nothing more until it ends, and its end is waited on, not looked for: a keep
// may last hours, so the looks slow down then. Before it is kept, a withdrawal
// or a closed port ends Halvane, after one last look so that a prompt that
// showed is known to have shown.
void Watch(HANDLE halvane, DWORD processId, const HostRequest& request, WatchState* state)
{
    const wchar_t* title = request.windowTitle.c_str();
    bool withdrawn = false;
    for (;;) {
        bool ended = false;
        PortNews news = WaitForPort(state->kept ? KeptWatchIntervalMs : WatchIntervalMs, halvane, &ended);
        if (ended)
            break;
        if (news == PortGone && state->kept)
            return;
        if (news != PortQuiet && !state->kept) {
            SendAll(Look(state, processId, title));
            if (!state->kept) {
                TerminateProcess(halvane, 1);
                WaitForSingleObject(halvane, WithdrawWaitMs);
                // The last look told what showed: a window it found made and
                // not yet shown never was, and is gone now.
                TakeMessages();
                HalvaneShowedWindow = false;
                withdrawn = true;
                break;
            }
        }
        // A withdrawal that came after the keep: the extension takes the pin away instead.
        if (news == PortWithdrew)
            ResetEvent(Withdrawn);
        if (news == PortQuiet) {
            WatchState before = *state;
            bool showed = HalvaneShowedWindow;
            std::vector<std::string> messages = Look(state, processId, title);
            if (WaitForSingleObject(halvane, 0) == WAIT_OBJECT_0) {
                *state = before;
                HalvaneShowedWindow = HalvaneShowedWindow || showed;
                break;
            }
            SendAll(messages);
        }
    }
    // A window Halvane showed since the last look, and closed before it ended
    // (a prompt answered at once), is told before the end: it was asked.
    if (TakeShowingSinceLook()) {
        WatchSample closedSince = {false, false, true};
        SendAll(WatchStep(state, closedSince));
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(halvane, &exitCode);
    if (withdrawn || exitCode != 0)
        LowerWhatHalvaneRaised(*state, title);
    const char* outcome =
        EndOutcome(*state, exitCode, ReadStoredDecision(request.site), HalvaneRuns(), withdrawn);
    Send(EndedEvent(outcome, exitCode, state->asked));
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
    case PortGoneFirst:
        return 0;
    case WithdrawnFirst:
        Send(EndedEvent("withdrawn", 0, false));
        return 0;
    case StillRuns:
        Send(BusyEvent());
        return 0;
    case NoneRuns:
        break;
    }
    // What stands before Halvane starts, so that what it does can be told apart.
    WatchState state;
    SiteRoad road = ReadRoad(request.site);
    state.policyKeeps = road == RoadKeepByPolicy;
    state.policyDeclines = road == RoadDeclineByPolicy;
    state.allowedBefore = road == RoadKeepByPolicy || road == RoadKeepByUser;
    Browser = IdentifyBrowserWindow(request.windowTitle.c_str());
    state.topmostBefore = IsTopmost(Browser.window);
    DWORD processId = 0;
    HANDLE halvane = StartHalvane(request, &processId);
    if (!halvane)
        return 1;
    Send(StartedEvent(processId));
    if (state.policyKeeps || state.policyDeclines)
        Send(PolicyEvent());
    Watch(halvane, processId, request, &state);
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
