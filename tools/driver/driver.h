// Driving Halvane from outside, as a user would: start it as its own process,
// find its windows, read their texts and states, click, and read its list view
// across the process boundary. Shared by the tests, the stand-in browser tool
// and the benchmarks. Built for the architecture of the halvane.exe beside it:
// what it places in that process (list view structures, the probe of
// SendFromInside) has the layout of its own.
#ifndef HALVANE_DRIVER_H
#define HALVANE_DRIVER_H

#include <windows.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace driver {

// How long to wait for anything that should happen. Every wait is a poll that
// ends as soon as it does, so the limit is sized for a loaded machine, where a
// start under Wine can take seconds, and costs nothing on a quiet one.
const DWORD kPatienceMs = 30000;

// ---- processes -------------------------------------------------------------

// Where the tests find halvane.exe: next to the running program.
std::wstring ProgramPath(const wchar_t* fileName = L"halvane.exe");

struct Process {
    HANDLE handle = nullptr;
    DWORD id = 0;
};

// Starts exe with the given command-line tail ("" for none: the tail is then
// empty) and creation flags; with mainThread, its main thread's handle is
// handed over there (to resume one started suspended), else closed; with
// showCommand other than -1, that is its start-up show command
// (STARTF_USESHOWWINDOW). Under load Wine now and then refuses a start with
// ERROR_INTERNAL_ERROR (1359) before any of the program ran: such a start is
// tried again, three tries in all, each retry announced on stderr by a line
// beginning "launch-retry:". Any other failure gives an empty Process at once,
// GetLastError telling why.
Process Launch(const std::wstring& tail, const std::wstring& exe = ProgramPath(), DWORD flags = 0,
               HANDLE* mainThread = nullptr, int showCommand = -1);
// The call Launch starts a process with; the test of the retry puts one in its
// place that refuses on purpose.
extern decltype(&CreateProcessW) createProcess;
// The exit code, or STILL_ACTIVE when it did not end within the timeout.
DWORD WaitForExit(const Process& process, DWORD timeoutMs);
// Ends a process that is still running and closes its handle. Safe to call twice.
void End(Process& process);
// A running process that someone else started, by its file name (the first
// found); empty when none runs. The handle can wait for it and read its exit code.
Process FindProcess(const wchar_t* fileName);
// The ids of every running process of that file name.
std::vector<DWORD> ProcessIds(const wchar_t* fileName);

// Ends the process on scope exit, so no test leaves one behind.
class ScopedProcess {
public:
    explicit ScopedProcess(Process process) : process_(process) {}
    ~ScopedProcess() { End(process_); }
    ScopedProcess(const ScopedProcess&) = delete;
    ScopedProcess& operator=(const ScopedProcess&) = delete;
    const Process& get() const { return process_; }
    DWORD id() const { return process_.id; }
    DWORD WaitForExit(DWORD timeoutMs) const { return driver::WaitForExit(process_, timeoutMs); }

private:
    Process process_;
};

// A native-messaging host started as Firefox starts one: suspended, with
// CREATE_NO_WINDOW, in its own folder, given the manifest's path and the
// extension's id, in a job whose only limit is JOB_OBJECT_LIMIT_BREAKAWAY_OK
// (none, with breakawayOk false). Its standard input and output are pipes held
// here, its errors go nowhere. On scope exit the job is ended, as Firefox ends
// it, with whatever is still in it.
class FirefoxHost {
public:
    explicit FirefoxHost(const std::wstring& exe, bool breakawayOk = true);
    ~FirefoxHost();
    FirefoxHost(const FirefoxHost&) = delete;
    FirefoxHost& operator=(const FirefoxHost&) = delete;
    const Process& process() const { return process_; }  // empty when it could not start
    HANDLE job() const { return job_; }
    DWORD WaitForExit(DWORD timeoutMs) const { return driver::WaitForExit(process_, timeoutMs); }
    // To its standard input; ClosePort closes that, as Firefox does when the port closes.
    void Post(const std::string& bytes);
    void ClosePort();
    // The body of the next framed message; false when none came whole in time or the output ended.
    bool Receive(std::string* body, DWORD timeoutMs = kPatienceMs);
    // Whether its standard output ended within the time: every process that held it is gone.
    bool OutputEnded(DWORD timeoutMs = 0);

private:
    bool Fill(size_t size, DWORD timeoutMs);
    Process process_;
    HANDLE job_ = nullptr, input_ = nullptr, output_ = nullptr;
    std::string received_;  // read from the output and not yet handed out
    bool ended_ = false;
};

// halvane.exe started for one of its dialogs, as most tests start it: waits for
// a visible dialog of the process (only one with that caption, when given), for
// no longer than the process lives. Ends the process on scope exit.
class HalvaneDialog {
public:
    explicit HalvaneDialog(const std::wstring& tail, const wchar_t* caption = nullptr,
                           const std::wstring& exe = ProgramPath(), int showCommand = -1);
    HWND dialog() const { return dialog_; }  // null when none came
    const ScopedProcess& process() const { return process_; }
    DWORD id() const { return process_.id(); }
    DWORD WaitForExit(DWORD timeoutMs) const { return process_.WaitForExit(timeoutMs); }
    // Waits for a dialog with that caption (any, when null), no longer than the process lives.
    HWND Await(const wchar_t* caption, DWORD timeoutMs = kPatienceMs) const;
    // Clicks a button of the dialog (Cancel by default) and gives the exit code
    // once the process has ended, STILL_ACTIVE when it did not end in time.
    DWORD Close(int button = IDCANCEL, DWORD timeoutMs = kPatienceMs) const;

private:
    ScopedProcess process_;
    HWND dialog_ = nullptr;
};

// ---- what the driver waits for ------------------------------------------------

// Notes, for as long as it lives, what the calling code waits for, so that the
// watchdog of a test that hangs can tell it (CurrentWaits). Every wait of the
// driver takes one, each WaitUntil too: by default noting where it was called.
class Waiting {
public:
    explicit Waiting(std::string what);
    ~Waiting();
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;
    const std::string& what() const { return what_; }

private:
    std::string what_;
    DWORD since_;
};
// The waits under way, the outermost first, each with how long it has lasted; "" when none.
std::string CurrentWaits();
// Says on stderr, on a line beginning "driver: ", that a wait ran out.
void RanOut(const std::string& what, DWORD timeoutMs);

// Polls until condition() holds or the timeout passes; returns the last result.
// A wait of more than an instant that runs out says so (RanOut). what: the
// wait's description; by default, where it was called from.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs = kPatienceMs, DWORD stepMs = 10, const char* what = nullptr,
               const char* file = __builtin_FILE(), int line = __builtin_LINE())
{
    if (timeoutMs == 0)  // a look, not a wait
        return condition();
    Waiting waiting(what ? std::string(what) : std::string("a condition at ") + file + ":" + std::to_string(line));
    DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount() - start >= timeoutMs) {
            RanOut(waiting.what(), timeoutMs);
            return false;
        }
        Sleep(stepMs);
    }
}

// ---- windows ---------------------------------------------------------------

// Visible top-level dialogs (class #32770) of a process.
std::vector<HWND> DialogsOf(DWORD processId);
// Waits for a visible dialog of the process; with a caption, only that one.
HWND WaitForDialog(DWORD processId, DWORD timeoutMs = kPatienceMs, const wchar_t* caption = nullptr);
// Waits until the process has no visible dialog with that handle any more.
bool WaitForDialogGone(HWND dialog, DWORD timeoutMs = kPatienceMs);

// SendMessageW with a time limit, so that a window that never answers (a hung
// halvane.exe) fails the test instead of hanging it: 0 when no answer came
// within kPatienceMs. Every message the driver sends goes through it.
LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

std::wstring Text(HWND window);
std::wstring ItemText(HWND dialog, int id);
std::wstring ClassName(HWND window);
bool IsChecked(HWND dialog, int id);
bool IsEnabled(HWND dialog, int id);
bool IsTopmost(HWND window);
// A window as the keeper leaves it: raised (topmost and shown) for the plain
// title, lowered (out of the topmost band and hidden) for the "_" title.
bool Raised(HWND window);
bool Lowered(HWND window);
// Wait for the keeper in another process or thread to get there: it looks once
// a second, so the default allows several passes.
bool WaitRaised(HWND window, DWORD timeoutMs = kPatienceMs);
bool WaitLowered(HWND window, DWORD timeoutMs = kPatienceMs);
RECT WindowRect(HWND window);

// Clicks a control the way a mouse click reaches it: posted, with its message
// time (and so a button that opens a nested modal dialog does not block the caller).
void Click(HWND dialog, int id);
// Waits, as a person would, until the consent prompt takes clicks and keys:
// until it has been the active window for its guard time. Call it once
// before answering, and again after anything that took the prompt's
// activation away (Preferences opened over it, another window activated).
bool WaitUntilInputCounts(HWND prompt, DWORD timeoutMs = 5000);
// The consent prompt's marked choices, of IDC_ALWAYS, IDC_JUST_THIS_TIME and IDC_NEVER.
std::vector<int> CheckedChoices(HWND prompt);
// Clicks a choice of the prompt and waits until it is marked; call
// WaitUntilInputCounts first. Then OK: PressOk waits until it is enabled,
// presses it and waits until the prompt is gone.
bool Pick(HWND prompt, int choice, DWORD timeoutMs = kPatienceMs);
bool PressOk(HWND prompt, DWORD timeoutMs = kPatienceMs);
// Returns once the window's thread has handled everything posted to it
// before: for checking that input had no effect.
bool Settle(HWND window, DWORD timeoutMs = 5000);
// Posts a key press to a window (WM_KEYDOWN/WM_CHAR/WM_KEYUP); heldDown: as
// the repeat of a key that was already down.
void PressKey(HWND window, UINT virtualKey, bool heldDown = false);
void TypeText(HWND window, const std::wstring& text);

// ---- the list view of another process ---------------------------------------

struct ListRow {
    std::wstring domain;
    std::wstring decision;
    LPARAM data = 0;
};

int ListCount(HWND list);
std::wstring ListText(HWND list, int row, int column);
std::vector<ListRow> ListRows(HWND list);
int ListSelectedRow(HWND list);  // -1 when none
void ListSelect(HWND list, int row);
HWND ListEditLabel(HWND list, int row);  // the edit control, or null
int ListColumnWidth(HWND list, int column);
RECT ListSubItemRect(HWND list, int row, int column);
// The list's header texts, in column order.
std::vector<std::wstring> ListColumns(HWND list);
DWORD ListExtendedStyle(HWND list);

// ---- the decision key -------------------------------------------------------

extern const wchar_t kDecisionsKey[];  // Software\Marrowin\Quillery\Halvane under HKCU

struct StoredValue {
    DWORD type = 0;
    std::vector<BYTE> data;
};
bool operator==(const StoredValue& a, const StoredValue& b);
bool operator!=(const StoredValue& a, const StoredValue& b);
void PrintTo(const StoredValue& value, std::ostream* out);  // for gtest's messages

// The key's values by their names as stored; tests compare whole keys with it.
using KeyContents = std::map<std::wstring, StoredValue>;

void DeleteDecisionsKey();
void WriteDword(const std::wstring& name, DWORD value);
void WriteRaw(const std::wstring& name, DWORD type, const std::vector<BYTE>& data);
KeyContents ReadDecisionsKey();
bool DecisionsKeyExists();

// A REG_DWORD of 4 bytes holding value.
StoredValue Dword(DWORD value);

// ---- keyboard focus and the caption -----------------------------------------

// The window that has the keyboard focus in the thread owning window (null if none).
HWND FocusedWindow(HWND window);
// The caption's close box, as the window manager reports it (WM_SYSCOMMAND SC_CLOSE, posted).
void PressCloseBox(HWND window);

// Sends a message to a window from a thread started inside the window's own
// process, for the messages Wine 8 cannot carry between processes (WM_GETICON,
// WM_SETICON and WM_GETFONT arrive as 0 there). Only for messages without
// pointers. False when the probe could not run or did not finish in time.
bool SendFromInside(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                    DWORD timeoutMs = kPatienceMs);

// ---- selection, focus and one-argument calls inside another process ----------

// Takes selection and focus away from every row (LVM_SETITEMSTATE on row -1).
void ListClearSelection(HWND list);
// Gives the keyboard focus to a control of a dialog, as Tab would (WM_NEXTDLGCTL).
void FocusControl(HWND dialog, HWND control);
// Runs function(argument), a one-argument export of a system DLL, as the start of a
// new thread inside the process and gives its 32-bit result (the thread's exit code).
// For what only that process can answer, such as GetObjectType on one of its GDI
// handles. False when it could not run or did not finish in time.
bool CallFromInside(HANDLE process, const wchar_t* dll, const char* function, ULONG_PTR argument, DWORD* result,
                    DWORD timeoutMs = kPatienceMs);

// ---- what the tests leave running ----------------------------------------------

// Ends every running process the tests start, but this one: those whose image
// lies in this program's folder or below (halvane.exe, the host, the stand-in
// browser, the test variants) and copies of Halvane a test made in the
// temporary folder (their file names begin with "halvane"): never a Halvane
// installed or started from anywhere else. Each is named on its own line of
// standard output, "leftover: NAME (pid 0x...) WHEN; ended", which the test
// scripts count. Returns the names with their ids; empty when none ran. Only
// Win32 (Toolhelp, OpenProcess, TerminateProcess): it runs on Windows as here.
std::vector<std::string> EndLeftovers(const std::string& when);
// Whether the process is one of those, running.
bool IsTestsOwn(DWORD processId);

// ---- where the tests run -----------------------------------------------------

// Whether this process runs under Wine, whose ntdll exports wine_get_version.
// Where Wine and Windows behave differently, a test keys its expectation on
// it: Windows' documented behaviour on Windows, Wine's here.
bool UnderWine();
// Whether the system says it is Windows Vista (6.0) or later.
bool VistaOrLater();

}  // namespace driver

#endif
