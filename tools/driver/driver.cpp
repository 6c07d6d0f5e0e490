#include "driver.h"

#include "guard/input_guard_logic.h"
#include "host/host_identity.h"
#include "ui/resource_ids.h"

#include <commctrl.h>
#include <tlhelp32.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <wctype.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>

namespace driver {

std::wstring ProgramPath(const wchar_t* fileName)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1) + fileName;
}

decltype(&CreateProcessW) createProcess = CreateProcessW;

namespace {

std::string Hex(ULONG_PTR value)
{
    char text[32];
    snprintf(text, sizeof(text), "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

// For the notes and messages of the waits: a window by its handle and class.
std::string Describe(HWND window)
{
    char name[128] = {};
    GetClassNameA(window, name, sizeof(name));
    return "window " + Hex(reinterpret_cast<ULONG_PTR>(window)) + " (class " + name + ")";
}

std::string Describe(const wchar_t* caption)
{
    if (!caption)
        return "any";
    char text[256] = {};
    WideCharToMultiByte(CP_UTF8, 0, caption, -1, text, sizeof(text) - 1, nullptr, nullptr);
    return std::string("\"") + text + "\"";
}

// CreateProcessW with Launch's retries; startup and the other arguments as CreateProcessW takes them.
bool StartProcess(const std::wstring& exe, const std::wstring& commandLine, DWORD flags, BOOL inherit,
                  const wchar_t* folder, STARTUPINFOW* startup, PROCESS_INFORMATION* info)
{
    const int kTries = 3;
    std::wstring name = exe.substr(exe.find_last_of(L"\\/") + 1);
    // As the browser host does for the program it starts: while the caller is
    // in front, the dialog of the program started can come to the front past
    // Windows' focus-stealing prevention (Wine has none).
    AllowSetForegroundWindow(ASFW_ANY);
    for (int attempt = 1;; ++attempt) {
        std::wstring line = commandLine;  // CreateProcessW may write into it
        if (createProcess(exe.c_str(), &line[0], nullptr, nullptr, inherit, flags, nullptr, folder, startup, info))
            return true;
        DWORD error = GetLastError();
        if (error != ERROR_INTERNAL_ERROR || attempt == kTries) {
            if (error == ERROR_INTERNAL_ERROR)
                fprintf(stderr, "driver: Wine could not start %ls in %d tries\n", name.c_str(), kTries);
            SetLastError(error);
            return false;
        }
        fprintf(stderr, "launch-retry: driver: Wine could not start %ls (error %lu); try %d of %d\n", name.c_str(),
                error, attempt + 1, kTries);
        fflush(stderr);
    }
}

}  // namespace

Process Launch(const std::wstring& tail, const std::wstring& exe, DWORD flags, HANDLE* mainThread, int showCommand)
{
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!tail.empty())
        commandLine += L" " + tail;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (showCommand != -1) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(showCommand);
    }
    PROCESS_INFORMATION info = {};
    if (!StartProcess(exe, commandLine, flags, FALSE, nullptr, &startup, &info))
        return {};
    if (mainThread)
        *mainThread = info.hThread;
    else
        CloseHandle(info.hThread);
    return {info.hProcess, info.dwProcessId};
}

DWORD WaitForExit(const Process& process, DWORD timeoutMs)
{
    if (!process.handle)
        return STILL_ACTIVE;
    if (timeoutMs) {
        Waiting waiting("the end of process " + Hex(process.id));
        if (WaitForSingleObject(process.handle, timeoutMs) != WAIT_OBJECT_0) {
            RanOut(waiting.what(), timeoutMs);
            return STILL_ACTIVE;
        }
    } else if (WaitForSingleObject(process.handle, 0) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process.handle, &code);
    return code;
}

void End(Process& process)
{
    if (!process.handle)
        return;
    if (WaitForSingleObject(process.handle, 0) != WAIT_OBJECT_0) {
        // Gone for good before the next test: it holds the single-instance mutex till then.
        Waiting waiting("process " + Hex(process.id) + " to end once terminated");
        TerminateProcess(process.handle, 9);
        if (WaitForSingleObject(process.handle, kPatienceMs) != WAIT_OBJECT_0)
            RanOut(waiting.what(), kPatienceMs);
    }
    CloseHandle(process.handle);
    process = Process{};
}

std::vector<DWORD> ProcessIds(const wchar_t* fileName)
{
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, fileName) == 0)
            ids.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return ids;
}

Process FindProcess(const wchar_t* fileName)
{
    Process process;
    for (DWORD id : ProcessIds(fileName)) {
        process.handle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, id);
        if (process.handle) {
            process.id = id;
            break;
        }
    }
    return process;
}

FirefoxHost::FirefoxHost(const std::wstring& exe, bool breakawayOk)
{
    job_ = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = breakawayOk ? JOB_OBJECT_LIMIT_BREAKAWAY_OK : 0;
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE inRead = nullptr, outWrite = nullptr;
    if (!job_ || !SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof(limits)) ||
        !CreatePipe(&inRead, &input_, &inheritable, 0) || !CreatePipe(&output_, &outWrite, &inheritable, 0)) {
        if (inRead)
            CloseHandle(inRead);
        return;
    }
    SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
    HANDLE errors = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0, nullptr);

    std::wstring folder = exe.substr(0, exe.find_last_of(L"\\/"));
    std::wstring commandLine =
        L"\"" + exe + L"\" \"" + folder + L"\\" HALVANE_HOST_MANIFEST L"\" " HALVANE_EXTENSION_ID;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = errors;
    PROCESS_INFORMATION info = {};
    bool started = StartProcess(exe, commandLine, CREATE_SUSPENDED | CREATE_NO_WINDOW, TRUE, folder.c_str(), &startup,
                                &info);
    DWORD error = GetLastError();
    for (HANDLE handle : {inRead, outWrite, errors})
        CloseHandle(handle);
    if (started) {
        AssignProcessToJobObject(job_, info.hProcess);
        ResumeThread(info.hThread);
        CloseHandle(info.hThread);
        process_ = {info.hProcess, info.dwProcessId};
    }
    SetLastError(error);
}

FirefoxHost::~FirefoxHost()
{
    if (job_)
        TerminateJobObject(job_, 1);
    End(process_);
    for (HANDLE handle : {input_, output_, job_})
        if (handle)
            CloseHandle(handle);
}

namespace {

// A write to a host's input, on a thread of its own: a host that stops reading
// would otherwise hold the test in WriteFile once the pipe is full.
struct PendingWrite {
    HANDLE pipe;
    std::string bytes;
};

DWORD WINAPI WriteOut(void* param)
{
    auto* write = static_cast<PendingWrite*>(param);
    DWORD written = 0;
    WriteFile(write->pipe, write->bytes.data(), static_cast<DWORD>(write->bytes.size()), &written, nullptr);
    CloseHandle(write->pipe);
    delete write;
    return 0;
}

}  // namespace

void FirefoxHost::Post(const std::string& bytes)
{
    HANDLE pipe = nullptr;
    if (!input_ || !DuplicateHandle(GetCurrentProcess(), input_, GetCurrentProcess(), &pipe, 0, FALSE,
                                    DUPLICATE_SAME_ACCESS))
        return;
    auto* write = new PendingWrite{pipe, bytes};
    HANDLE thread = CreateThread(nullptr, 0, WriteOut, write, 0, nullptr);
    if (!thread) {
        CloseHandle(pipe);
        delete write;
        return;
    }
    // Left to finish on its own if it runs out: the host's end, with its job, ends it.
    Waiting waiting("the host to take " + std::to_string(bytes.size()) + " bytes on its input");
    if (WaitForSingleObject(thread, kPatienceMs) != WAIT_OBJECT_0)
        RanOut(waiting.what(), kPatienceMs);
    CloseHandle(thread);
}

void FirefoxHost::ClosePort()
{
    if (input_)
        CloseHandle(std::exchange(input_, nullptr));
}

// Reads what the pipe holds, never blocking on it, until `size` bytes are at hand or the output ends.
bool FirefoxHost::Fill(size_t size, DWORD timeoutMs)
{
    WaitUntil(
        [&] {
            DWORD available = 0;
            if (received_.size() >= size || ended_)
                return true;
            if (!PeekNamedPipe(output_, nullptr, 0, nullptr, &available, nullptr)) {
                ended_ = true;
                return true;
            }
            if (available) {
                std::string chunk(available, '\0');
                DWORD got = 0;
                if (ReadFile(output_, &chunk[0], available, &got, nullptr))
                    received_.append(chunk, 0, got);
            }
            return received_.size() >= size;
        },
        timeoutMs, 1, "the host's output");
    return received_.size() >= size;
}

bool FirefoxHost::Receive(std::string* body, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    if (!Fill(4, timeoutMs))
        return false;
    uint32_t length = 0;
    memcpy(&length, received_.data(), 4);
    DWORD spent = GetTickCount() - start;
    if (!Fill(4 + size_t(length), spent < timeoutMs ? timeoutMs - spent : 0))
        return false;
    body->assign(received_, 4, length);
    received_.erase(0, 4 + size_t(length));
    return true;
}

bool FirefoxHost::OutputEnded(DWORD timeoutMs)
{
    Fill(SIZE_MAX, timeoutMs);
    return ended_;
}

HalvaneDialog::HalvaneDialog(const std::wstring& tail, const wchar_t* caption, const std::wstring& exe,
                             int showCommand)
    : process_(Launch(tail, exe, 0, nullptr, showCommand)), dialog_(Await(caption))
{
}

HWND HalvaneDialog::Await(const wchar_t* caption, DWORD timeoutMs) const
{
    HWND dialog = nullptr;
    if (process_.id())
        WaitUntil(
            [&] {
                dialog = WaitForDialog(process_.id(), 0, caption);
                return dialog || process_.WaitForExit(0) != STILL_ACTIVE;
            },
            timeoutMs, 10, ("a dialog (caption " + Describe(caption) + ") of process " + Hex(process_.id())).c_str());
    return dialog;
}

DWORD HalvaneDialog::Close(int button, DWORD timeoutMs) const
{
    if (dialog_)
        Click(dialog_, button);
    return process_.WaitForExit(timeoutMs);
}

namespace {

struct DialogSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<DialogSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) && ClassName(window) == L"#32770")
        search->found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> DialogsOf(DWORD processId)
{
    DialogSearch search = {processId, {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForDialog(DWORD processId, DWORD timeoutMs, const wchar_t* caption)
{
    HWND dialog = nullptr;
    if (!processId)  // a start that failed: no dialog will come
        return nullptr;
    WaitUntil(
        [&] {
            for (HWND candidate : DialogsOf(processId)) {
                // The caption as the system holds it: no message, so a dialog that does not
                // answer cannot make each look last as long as a send's time limit.
                wchar_t text[256] = {};
                InternalGetWindowText(candidate, text, 256);
                if (!caption || wcscmp(text, caption) == 0) {
                    dialog = candidate;
                    return true;
                }
            }
            return false;
        },
        timeoutMs, 10, ("a dialog (caption " + Describe(caption) + ") of process " + Hex(processId)).c_str());
    return dialog;
}

bool WaitForDialogGone(HWND dialog, DWORD timeoutMs)
{
    return WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, timeoutMs, 10,
                     (Describe(dialog) + " to go").c_str());
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    Waiting waiting("an answer to message " + Hex(message) + " from " + Describe(window));
    SetLastError(ERROR_SUCCESS);
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kPatienceMs, &result)) {
        if (GetLastError() == ERROR_TIMEOUT)
            RanOut(waiting.what(), kPatienceMs);
        return 0;
    }
    return static_cast<LRESULT>(result);
}

std::wstring Text(HWND window)
{
    // WM_GETTEXT crosses processes (the system marshals the buffer).
    LRESULT length = Send(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT copied = Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(copied));
    return text;
}

std::wstring ItemText(HWND dialog, int id)
{
    return Text(GetDlgItem(dialog, id));
}

std::wstring ClassName(HWND window)
{
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

bool IsChecked(HWND dialog, int id)
{
    return Send(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool IsEnabled(HWND dialog, int id)
{
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

bool IsTopmost(HWND window)
{
    return (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

bool Raised(HWND window)
{
    return IsTopmost(window) && IsWindowVisible(window);
}

bool Lowered(HWND window)
{
    return !IsTopmost(window) && !IsWindowVisible(window);
}

bool WaitRaised(HWND window, DWORD timeoutMs)
{
    return WaitUntil([&] { return Raised(window); }, timeoutMs, 10, (Describe(window) + " to be raised").c_str());
}

bool WaitLowered(HWND window, DWORD timeoutMs)
{
    return WaitUntil([&] { return Lowered(window); }, timeoutMs, 10, (Describe(window) + " to be lowered").c_str());
}

RECT WindowRect(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

void Click(HWND dialog, int id)
{
    // A press and a release in the middle of the control, posted as the system
    // posts mouse input: each carries its message time and passes through the
    // dialog's modal loop like a real click.
    HWND control = GetDlgItem(dialog, id);
    RECT client = {};
    GetClientRect(control, &client);
    LPARAM middle = MAKELPARAM(client.right / 2, client.bottom / 2);
    PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, middle);
    PostMessageW(control, WM_LBUTTONUP, 0, middle);
}

bool WaitUntilInputCounts(HWND prompt, DWORD timeoutMs)
{
    // The same clock as the prompt's and its messages' times: the tick. Seen
    // active, the prompt may not yet have handled its own show or move, which
    // starts its guard time again: a loaded machine can hold its thread between
    // the two. Once it has handled a message posted after that, its guard time
    // began no later, so a press posted once the guard time has passed since counts.
    const DWORD guard = InputGuardTime(GetDoubleClickTime());
    DWORD seenSince = 0;
    bool seen = false;
    return WaitUntil(
        [&] {
            if (GetForegroundWindow() != prompt || !IsWindowEnabled(prompt)) {
                seen = false;
                return false;
            }
            if (!seen) {
                if (!Settle(prompt))
                    return false;
                seenSince = GetTickCount();
            }
            seen = true;
            return GetTickCount() - seenSince > guard;
        },
        timeoutMs, 10, ("the prompt, " + Describe(prompt) + ", to take input").c_str());
}

std::vector<int> CheckedChoices(HWND prompt)
{
    std::vector<int> checked;
    for (int choice : {IDC_ALWAYS, IDC_JUST_THIS_TIME, IDC_NEVER})
        if (IsChecked(prompt, choice))
            checked.push_back(choice);
    return checked;
}

bool Pick(HWND prompt, int choice, DWORD timeoutMs)
{
    Click(prompt, choice);
    return WaitUntil([&] { return IsChecked(prompt, choice); }, timeoutMs, 10,
                     ("choice " + std::to_string(choice) + " of " + Describe(prompt) + " to be marked").c_str());
}

bool PressOk(HWND prompt, DWORD timeoutMs)
{
    if (!WaitUntil([&] { return IsEnabled(prompt, IDOK); }, timeoutMs, 10,
                   ("OK of " + Describe(prompt) + " to be enabled").c_str()))
        return false;
    Click(prompt, IDOK);
    return WaitForDialogGone(prompt, timeoutMs);
}

bool Settle(HWND window, DWORD timeoutMs)
{
    // Posted messages are handled in order, so once a posted change shows,
    // everything posted before it has been handled. The change: redrawing of
    // the window's first child turned off and on again, which the system keeps
    // as that child's visible bit. (Wine keeps no keyboard-cue state to use.)
    HWND child = GetWindow(window, GW_CHILD);
    auto shown = [&] { return (GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) != 0; };
    if (!child || !shown())
        return false;
    PostMessageW(child, WM_SETREDRAW, FALSE, 0);
    std::string what = Describe(window) + " to handle what was posted to it";
    bool handled = WaitUntil([&] { return !shown(); }, timeoutMs, 1, what.c_str());
    PostMessageW(child, WM_SETREDRAW, TRUE, 0);
    return WaitUntil(shown, timeoutMs, 1, what.c_str()) && handled;
}

void PressKey(HWND window, UINT virtualKey, bool heldDown)
{
    // A key held down repeats with bit 30, "was already down", set.
    LPARAM down = heldDown ? 0x40000001 : 1;
    PostMessageW(window, WM_KEYDOWN, virtualKey, down);
    if (virtualKey == VK_RETURN || virtualKey == VK_ESCAPE)
        PostMessageW(window, WM_CHAR, virtualKey == VK_RETURN ? L'\r' : 0x1B, down);
    PostMessageW(window, WM_KEYUP, virtualKey, 0xC0000001);
}

void TypeText(HWND window, const std::wstring& text)
{
    Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// ---- list view across processes: its structures must live in its own memory ----

namespace {

class RemoteBuffer {
public:
    RemoteBuffer(HWND window, SIZE_T size) : size_(size)
    {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
        if (process_)
            address_ = static_cast<BYTE*>(VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    }
    ~RemoteBuffer()
    {
        if (address_)
            VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
        if (process_)
            CloseHandle(process_);
    }
    BYTE* at(SIZE_T offset) const { return address_ + offset; }
    void Write(SIZE_T offset, const void* data, SIZE_T size) const
    {
        WriteProcessMemory(process_, address_ + offset, data, size, nullptr);
    }
    void Read(SIZE_T offset, void* data, SIZE_T size) const
    {
        ReadProcessMemory(process_, address_ + offset, data, size, nullptr);
    }

private:
    HANDLE process_ = nullptr;
    BYTE* address_ = nullptr;
    SIZE_T size_;
};

const SIZE_T kTextOffset = 256;
const int kTextChars = 512;

}  // namespace

int ListCount(HWND list)
{
    return static_cast<int>(Send(list, LVM_GETITEMCOUNT, 0, 0));
}

namespace {

// Sends a list view message whose item or column structure asks for a text,
// with the structure and the text's buffer both in the list's own process,
// and reads the text back.
template <typename Structure>
std::wstring RemoteText(HWND list, UINT message, WPARAM wParam, Structure structure)
{
    RemoteBuffer remote(list, kTextOffset + kTextChars * sizeof(wchar_t));
    structure.pszText = reinterpret_cast<wchar_t*>(remote.at(kTextOffset));
    structure.cchTextMax = kTextChars;
    remote.Write(0, &structure, sizeof(structure));
    Send(list, message, wParam, reinterpret_cast<LPARAM>(remote.at(0)));
    std::wstring text(kTextChars, L'\0');
    remote.Read(kTextOffset, &text[0], kTextChars * sizeof(wchar_t));
    return text.c_str();
}

}  // namespace

std::wstring ListText(HWND list, int row, int column)
{
    LVITEMW item = {};
    item.iSubItem = column;
    return RemoteText(list, LVM_GETITEMTEXTW, row, item);
}

static LPARAM ListItemData(HWND list, int row)
{
    RemoteBuffer remote(list, sizeof(LVITEMW));
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    remote.Write(0, &item, sizeof(item));
    Send(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote.at(0)));
    remote.Read(0, &item, sizeof(item));
    return item.lParam;
}

std::vector<ListRow> ListRows(HWND list)
{
    std::vector<ListRow> rows;
    for (int row = 0, count = ListCount(list); row < count; ++row)
        rows.push_back({ListText(list, row, 0), ListText(list, row, 1), ListItemData(list, row)});
    return rows;
}

int ListSelectedRow(HWND list)
{
    return static_cast<int>(Send(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void ListSelect(HWND list, int row)
{
    RemoteBuffer remote(list, sizeof(LVITEMW));
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    remote.Write(0, &item, sizeof(item));
    Send(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(remote.at(0)));
}

HWND ListEditLabel(HWND list, int row)
{
    // The list must have the focus for the edit to start; focus moves only within a thread's queue.
    return reinterpret_cast<HWND>(Send(list, LVM_EDITLABELW, row, 0));
}

int ListColumnWidth(HWND list, int column)
{
    return static_cast<int>(Send(list, LVM_GETCOLUMNWIDTH, column, 0));
}

RECT ListSubItemRect(HWND list, int row, int column)
{
    RemoteBuffer remote(list, sizeof(RECT));
    RECT rect = {LVIR_BOUNDS, column, 0, 0};
    remote.Write(0, &rect, sizeof(rect));
    Send(list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(remote.at(0)));
    remote.Read(0, &rect, sizeof(rect));
    return rect;
}

std::vector<std::wstring> ListColumns(HWND list)
{
    std::vector<std::wstring> columns;
    HWND header = reinterpret_cast<HWND>(Send(list, LVM_GETHEADER, 0, 0));
    int count = static_cast<int>(Send(header, HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT;
        columns.push_back(RemoteText(list, LVM_GETCOLUMNW, i, column));
    }
    return columns;
}

DWORD ListExtendedStyle(HWND list)
{
    return static_cast<DWORD>(Send(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
}

// ---- the decision key -------------------------------------------------------

const wchar_t kDecisionsKey[] = L"Software\\Marrowin\\Quillery\\Halvane";

void DeleteDecisionsKey()
{
    RegDeleteTreeW(HKEY_CURRENT_USER, kDecisionsKey);
}

void WriteRaw(const std::wstring& name, DWORD type, const std::vector<BYTE>& data)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kDecisionsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name.c_str(), 0, type, data.empty() ? nullptr : data.data(), static_cast<DWORD>(data.size()));
    RegCloseKey(key);
}

void WriteDword(const std::wstring& name, DWORD value)
{
    WriteRaw(name, REG_DWORD, Dword(value).data);
}

bool operator==(const StoredValue& a, const StoredValue& b)
{
    return a.type == b.type && a.data == b.data;
}

bool operator!=(const StoredValue& a, const StoredValue& b)
{
    return !(a == b);
}

void PrintTo(const StoredValue& value, std::ostream* out)
{
    *out << "type " << value.type << ", bytes {";
    for (size_t i = 0; i < value.data.size(); ++i)
        *out << (i ? " " : "") << static_cast<unsigned>(value.data[i]);
    *out << "}";
}

StoredValue Dword(DWORD value)
{
    StoredValue stored;
    stored.type = REG_DWORD;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    stored.data.assign(bytes, bytes + 4);
    return stored;
}

bool DecisionsKeyExists()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kDecisionsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

KeyContents ReadDecisionsKey()
{
    KeyContents values;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kDecisionsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(65536);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize) != ERROR_SUCCESS)
            break;
        StoredValue& stored = values[std::wstring(name.data(), nameLength)];
        stored.type = type;
        stored.data.assign(data.begin(), data.begin() + dataSize);
    }
    RegCloseKey(key);
    return values;
}

// ---- keyboard focus and the caption -----------------------------------------

HWND FocusedWindow(HWND window)
{
    // GetFocus only sees the caller's own thread; another process's focus comes from its thread.
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

void PressCloseBox(HWND window)
{
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

namespace {

// What the probe thread reads and writes, in the other process's memory. The
// other process has the driver's architecture, so it has this layout too.
struct ProbeBlock {
    void* sendMessage;
    HWND window;
    UINT_PTR message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result;
    BYTE code[64];
};

// The probe: a thread start routine that does
// block->result = block->sendMessage(window, message, wParam, lParam); return 0.
#if defined(__x86_64__)
const BYTE kProbeCode[] = {
    0x53,                    // push rbx
    0x48, 0x83, 0xEC, 0x20,  // sub rsp, 32 (shadow space; keeps rsp 16-aligned at the call)
    0x48, 0x89, 0xCB,        // mov rbx, rcx       block
    0x48, 0x8B, 0x53, 0x10,  // mov rdx, [rbx+16]  message
    0x4C, 0x8B, 0x43, 0x18,  // mov r8, [rbx+24]   wParam
    0x4C, 0x8B, 0x4B, 0x20,  // mov r9, [rbx+32]   lParam
    0x48, 0x8B, 0x4B, 0x08,  // mov rcx, [rbx+8]   window
    0xFF, 0x13,              // call [rbx]
    0x48, 0x89, 0x43, 0x28,  // mov [rbx+40], rax  result
    0x31, 0xC0,              // xor eax, eax
    0x48, 0x83, 0xC4, 0x20,  // add rsp, 32
    0x5B,                    // pop rbx
    0xC3,                    // ret
};
static_assert(offsetof(ProbeBlock, result) == 40 && offsetof(ProbeBlock, code) == 48, "x64 probe layout");
#elif defined(__i386__)
// stdcall throughout: the block arrives on the stack, SendMessageW pops its
// four arguments, and the routine pops its one.
const BYTE kProbeCode[] = {
    0x53,                    // push ebx
    0x8B, 0x5C, 0x24, 0x08,  // mov ebx, [esp+8]    block
    0xFF, 0x73, 0x10,        // push dword [ebx+16] lParam
    0xFF, 0x73, 0x0C,        // push dword [ebx+12] wParam
    0xFF, 0x73, 0x08,        // push dword [ebx+8]  message
    0xFF, 0x73, 0x04,        // push dword [ebx+4]  window
    0xFF, 0x13,              // call [ebx]
    0x89, 0x43, 0x14,        // mov [ebx+20], eax   result
    0x31, 0xC0,              // xor eax, eax
    0x5B,                    // pop ebx
    0xC2, 0x04, 0x00,        // ret 4
};
static_assert(offsetof(ProbeBlock, result) == 20 && offsetof(ProbeBlock, code) == 24, "x86 probe layout");
#else
#error "the probe has code for x64 and x86 only"
#endif
static_assert(sizeof(kProbeCode) <= sizeof(ProbeBlock::code), "probe code fits its block");

}  // namespace

bool SendFromInside(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result, DWORD timeoutMs)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                                     PROCESS_VM_READ | PROCESS_VM_WRITE,
                                 FALSE, processId);
    if (!process)
        return false;
    // From here: the probe's memory and thread in the other process, then its end.
    Waiting waiting("message " + Hex(message) + " to " + Describe(window) + ", sent from inside its process");
    // user32 sits at the same address in every process; make sure before calling into it.
    void* sendMessage = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SendMessageW"));
    BYTE local[16], remote[16];
    if (!sendMessage) {
        CloseHandle(process);
        return false;
    }
    memcpy(local, sendMessage, sizeof(local));
    bool ok = ReadProcessMemory(process, sendMessage, remote, sizeof(remote), nullptr) &&
              memcmp(local, remote, sizeof(local)) == 0;
    auto* block = ok ? static_cast<ProbeBlock*>(VirtualAllocEx(process, nullptr, sizeof(ProbeBlock),
                                                               MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE))
                     : nullptr;
    bool finished = false;
    if (block) {
        ProbeBlock probe = {sendMessage, window, message, wParam, lParam, 0, {}};
        memcpy(probe.code, kProbeCode, sizeof(kProbeCode));
        HANDLE thread = nullptr;
        if (WriteProcessMemory(process, block, &probe, sizeof(probe), nullptr) &&
            FlushInstructionCache(process, block->code, sizeof(kProbeCode)))
            thread = CreateRemoteThread(process, nullptr, 0,
                                        reinterpret_cast<LPTHREAD_START_ROUTINE>(block->code), block, 0, nullptr);
        if (thread) {
            bool ended = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
            if (!ended)
                RanOut(waiting.what(), timeoutMs);
            finished = ended && ReadProcessMemory(process, &block->result, result, sizeof(*result), nullptr);
            CloseHandle(thread);
        }
        // A probe still running keeps its block; the process ends with the test anyway.
        if (finished || !thread)
            VirtualFreeEx(process, block, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return finished;
}


// ---- selection, focus and one-argument calls inside another process ----------

void ListClearSelection(HWND list)
{
    RemoteBuffer remote(list, sizeof(LVITEMW));
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    remote.Write(0, &item, sizeof(item));
    Send(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(remote.at(0)));
}

void FocusControl(HWND dialog, HWND control)
{
    Send(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

namespace {

// Starts function(argument), a one-argument export of a system DLL, as a new
// thread of the process; the thread's handle, or null. The same module sits at
// the same offset there; the export may be forwarded, so the module that
// really holds the code is taken.
HANDLE StartInside(HANDLE process, const wchar_t* dll, const char* function, ULONG_PTR argument)
{
    HMODULE ours = nullptr;
    FARPROC local = GetProcAddress(GetModuleHandleW(dll), function);
    if (!local || !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                          GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                      reinterpret_cast<LPCWSTR>(local), &ours))
        return nullptr;
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(ours, path, MAX_PATH);
    std::wstring name(path, length);
    name = name.substr(name.find_last_of(L"\\/") + 1);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetProcessId(process));
    if (snapshot == INVALID_HANDLE_VALUE)
        return nullptr;
    BYTE* start = nullptr;
    MODULEENTRY32W module = {};
    module.dwSize = sizeof(module);
    for (BOOL more = Module32FirstW(snapshot, &module); more && !start; more = Module32NextW(snapshot, &module)) {
        if (_wcsicmp(module.szModule, name.c_str()) == 0)
            start = module.modBaseAddr + (reinterpret_cast<BYTE*>(local) - reinterpret_cast<BYTE*>(ours));
    }
    CloseHandle(snapshot);
    return start ? CreateRemoteThread(process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(start),
                                      reinterpret_cast<void*>(argument), 0, nullptr)
                 : nullptr;
}

}  // namespace

bool CallFromInside(HANDLE process, const wchar_t* dll, const char* function, ULONG_PTR argument, DWORD* result,
                    DWORD timeoutMs)
{
    Waiting waiting(std::string(function) + " called inside process " + Hex(GetProcessId(process)));
    HANDLE thread = StartInside(process, dll, function, argument);
    if (!thread)
        return false;
    bool ended = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
    if (!ended)
        RanOut(waiting.what(), timeoutMs);
    bool finished = ended && GetExitCodeThread(thread, result);
    CloseHandle(thread);
    return finished;
}

// ---- what the driver waits for ------------------------------------------------

namespace {

// Read by the watchdog's thread while the test's thread waits.
struct WaitNotes {
    CRITICAL_SECTION lock;
    std::vector<std::pair<const std::string*, DWORD>> open;  // what, since
    WaitNotes() { InitializeCriticalSection(&lock); }
};

WaitNotes& Notes()
{
    static WaitNotes notes;
    return notes;
}

}  // namespace

Waiting::Waiting(std::string what) : what_(std::move(what)), since_(GetTickCount())
{
    EnterCriticalSection(&Notes().lock);
    Notes().open.emplace_back(&what_, since_);
    LeaveCriticalSection(&Notes().lock);
}

Waiting::~Waiting()
{
    EnterCriticalSection(&Notes().lock);
    auto& open = Notes().open;
    open.erase(std::find(open.begin(), open.end(), std::make_pair(static_cast<const std::string*>(&what_), since_)));
    LeaveCriticalSection(&Notes().lock);
}

std::string CurrentWaits()
{
    std::string waits;
    EnterCriticalSection(&Notes().lock);
    for (const auto& [what, since] : Notes().open)
        waits += (waits.empty() ? "" : "; within it, ") + *what + " (for " +
                 std::to_string((GetTickCount() - since) / 1000) + " s)";
    LeaveCriticalSection(&Notes().lock);
    return waits;
}

void RanOut(const std::string& what, DWORD timeoutMs)
{
    fprintf(stderr, "driver: waited %lu ms for %s; ran out\n", static_cast<unsigned long>(timeoutMs), what.c_str());
    fflush(stderr);
}

// ---- what the tests leave running ----------------------------------------------

namespace {

std::wstring Lower(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return static_cast<wchar_t>(towlower(c)); });
    return text;
}

// A path in its long form, lower-cased: the tests' folder may have been
// reached through a short name, and a process's image is given in long form.
std::wstring Comparable(const std::wstring& path)
{
    wchar_t longPath[MAX_PATH * 2];
    DWORD length = GetLongPathNameW(path.c_str(), longPath, MAX_PATH * 2);
    return Lower(length && length < MAX_PATH * 2 ? std::wstring(longPath, length) : path);
}

// The full path of a process's image; empty when it cannot be read.
std::wstring ImagePath(HANDLE process)
{
    wchar_t path[MAX_PATH * 2];
    DWORD length = MAX_PATH * 2;
    if (!QueryFullProcessImageNameW(process, 0, path, &length))
        return L"";
    return Comparable(std::wstring(path, length));
}

std::wstring TemporaryFolder()
{
    wchar_t path[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, path);
    return length && length <= MAX_PATH ? std::wstring(path, length) : L"";
}

// This program and the processes it runs under, by their ids: the tests bundle's
// helper, which starts each test program, lives in the same folder as they do.
const std::set<DWORD>& ThisProgramAndItsStarters()
{
    static const std::set<DWORD> chain = [] {
        std::map<DWORD, DWORD> parents;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot != INVALID_HANDLE_VALUE) {
            PROCESSENTRY32W entry = {};
            entry.dwSize = sizeof(entry);
            for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
                parents[entry.th32ProcessID] = entry.th32ParentProcessID;
            CloseHandle(snapshot);
        }
        std::set<DWORD> ids;
        for (DWORD id = GetCurrentProcessId(); id && ids.insert(id).second && parents.count(id);)
            id = parents[id];
        return ids;
    }();
    return chain;
}

// A handle on a running process the tests start (see EndLeftovers), null for any other.
HANDLE OpenTestsOwn(DWORD processId)
{
    if (ThisProgramAndItsStarters().count(processId))
        return nullptr;
    HANDLE process =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
    if (!process)
        return nullptr;
    // A process that has ended but is still held by a handle is not running.
    std::wstring image = WaitForSingleObject(process, 0) == WAIT_OBJECT_0 ? L"" : ImagePath(process);
    static const std::wstring folder = Comparable(ProgramPath(L""));
    static const std::wstring temporary = Comparable(TemporaryFolder());
    auto within = [&](const std::wstring& above) { return !above.empty() && image.compare(0, above.size(), above) == 0; };
    std::wstring name = image.substr(image.find_last_of(L"\\/") + 1);
    if (!image.empty() && (within(folder) || (within(temporary) && name.compare(0, 7, L"halvane") == 0)))
        return process;
    CloseHandle(process);
    return nullptr;
}

}  // namespace

bool IsTestsOwn(DWORD processId)
{
    HANDLE process = OpenTestsOwn(processId);
    if (process)
        CloseHandle(process);
    return process != nullptr;
}

std::vector<std::string> EndLeftovers(const std::string& when)
{
    std::vector<std::string> ended;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ended;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        HANDLE process = OpenTestsOwn(entry.th32ProcessID);
        if (!process)
            continue;
        char name[MAX_PATH] = {};
        WideCharToMultiByte(CP_UTF8, 0, entry.szExeFile, -1, name, sizeof(name) - 1, nullptr, nullptr);
        std::string named = std::string(name) + " (pid " + Hex(entry.th32ProcessID) + ")";
        TerminateProcess(process, 9);
        bool gone = WaitForSingleObject(process, kPatienceMs) == WAIT_OBJECT_0;
        printf("leftover: %s %s; %s\n", named.c_str(), when.c_str(), gone ? "ended" : "could not be ended");
        fflush(stdout);
        ended.push_back(named);
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return ended;
}

// ---- where the tests run -----------------------------------------------------

bool UnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

bool VistaOrLater()
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    return GetVersionExW(&version) && version.dwMajorVersion >= 6;
}

}  // namespace driver
