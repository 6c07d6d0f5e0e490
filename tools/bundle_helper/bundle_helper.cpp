// The tests bundle's helper: what run-tests.cmd cannot do reliably in plain
// cmd on every Windows. It runs from the bundle's folder.
//
//   bundle_helper ready          exits 0 when the tests can run here; else says why and exits 2:
//                                before Windows Vista, or while a halvane.exe runs
//   bundle_helper lock FOLDER    makes FOLDER the lock of the cmd that called it, one run at a
//                                time; a lock whose cmd has ended is taken over. Exits 2, saying
//                                which process holds it, when another run does.
//   bundle_helper run NAME SECONDS [ARGUMENT...]
//                                runs bin\NAME.exe with its GoogleTest report going to
//                                results\NAME.xml and its output to results\NAME.txt, in a job
//                                of its own ended after SECONDS; then ends whatever it left
//                                running and says so, and prints its verdict line (also to
//                                results\summary.txt). Exits 0 when it passed, 1 when not.
//
// It imports only what Windows XP has, so that on XP it can say why nothing runs.
#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <initializer_list>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

const size_t kLine = 1024;
const size_t kPath = 32768;  // the longest path Windows takes, in UTF-16 units

// A line to the console as it is written, elsewhere (a file, a pipe) in the
// console's code page, as cmd's own echo writes it; with the verdicts, also
// appended to results\summary.txt.
void Write(HANDLE output, const wchar_t* text)
{
    DWORD mode, written;
    if (GetConsoleMode(output, &mode)) {
        WriteConsoleW(output, text, static_cast<DWORD>(wcslen(text)), &written, nullptr);
        return;
    }
    char bytes[4 * kLine];
    int size = WideCharToMultiByte(GetConsoleOutputCP() ? GetConsoleOutputCP() : CP_OEMCP, 0, text, -1, bytes,
                                   sizeof(bytes), nullptr, nullptr);
    if (size > 1)
        WriteFile(output, bytes, static_cast<DWORD>(size - 1), &written, nullptr);
}

void Say(bool toSummary, const wchar_t* format, ...)
{
    wchar_t line[kLine];
    va_list arguments;
    va_start(arguments, format);
    _vsnwprintf(line, kLine - 3, format, arguments);
    va_end(arguments);
    line[kLine - 3] = L'\0';
    wcscat(line, L"\r\n");
    Write(GetStdHandle(STD_OUTPUT_HANDLE), line);
    if (!toSummary)
        return;
    HANDLE summary = CreateFileW(L"results\\summary.txt", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (summary != INVALID_HANDLE_VALUE) {
        Write(summary, line);
        CloseHandle(summary);
    }
}

ULONGLONG Ticks(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// When the process started (0 when it cannot be asked): with the id, what
// tells it apart from a later process given the same id.
ULONGLONG StartedAt(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    return GetProcessTimes(process, &created, &exited, &kernel, &user) ? Ticks(created) : 0;
}

struct ProcessEntry {
    DWORD id, parent;
    wchar_t name[MAX_PATH];
};

// Calls visit(entry) for every running process, until it returns false.
template <typename Visit>
void EachProcess(Visit visit)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        ProcessEntry found = {entry.th32ProcessID, entry.th32ParentProcessID, {}};
        wcsncpy(found.name, entry.szExeFile, MAX_PATH - 1);
        if (!visit(found))
            break;
    }
    CloseHandle(snapshot);
}

// The first process of that file name, 0 when none runs.
DWORD Running(const wchar_t* name)
{
    DWORD id = 0;
    EachProcess([&](const ProcessEntry& entry) {
        if (_wcsicmp(entry.name, name) == 0)
            id = entry.id;
        return id == 0;
    });
    return id;
}

// The cmd that runs run-tests.cmd: this helper's parent, opened to wait for
// it, or null when it is gone (or its id is already another's).
HANDLE OpenCaller(DWORD* id)
{
    DWORD self = GetCurrentProcessId();
    *id = 0;
    EachProcess([&](const ProcessEntry& entry) {
        if (entry.id == self)
            *id = entry.parent;
        return entry.id != self;
    });
    HANDLE caller = *id ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, *id) : nullptr;
    if (caller && StartedAt(caller) > StartedAt(GetCurrentProcess())) {
        CloseHandle(caller);
        caller = nullptr;
    }
    return caller;
}

bool HalvaneIsRunning()
{
    DWORD id = Running(L"halvane.exe");
    if (id)
        Say(false, L"run-tests: Halvane is running (process %lu): it shares the tests' single-instance mutex and keys;"
                   L" let it end (close its window or the page keeping one), then run this again", id);
    return id != 0;
}

int Ready()
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (GetVersionExW(&version) && version.dwMajorVersion < 6) {
        Say(false, L"run-tests: the test programs need Windows Vista or later (this is Windows %lu.%lu)",
            version.dwMajorVersion, version.dwMinorVersion);
        return 2;
    }
    return HalvaneIsRunning() ? 2 : 0;
}

// ---- one run at a time ------------------------------------------------------

// The lock is a folder (made in one step, so only one run can make it) with a
// file naming its owner: the cmd's process id and start time.
bool ReadOwner(const wchar_t* file, DWORD* id, ULONGLONG* started)
{
    FILE* owner = _wfopen(file, L"r");
    if (!owner)
        return false;
    unsigned long readId = 0, high = 0, low = 0;
    bool read = fscanf(owner, "%lu %lu %lu", &readId, &high, &low) == 3;
    fclose(owner);
    *id = readId;
    *started = (static_cast<ULONGLONG>(high) << 32) | low;
    return read;
}

bool WriteOwner(const wchar_t* file, DWORD id, ULONGLONG started)
{
    FILE* owner = _wfopen(file, L"w");
    if (!owner)
        return false;
    bool written = fprintf(owner, "%lu %lu %lu\n", static_cast<unsigned long>(id),
                           static_cast<unsigned long>(started >> 32), static_cast<unsigned long>(started)) > 0;
    return fclose(owner) == 0 && written;
}

bool Alive(DWORD id, ULONGLONG started)
{
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, id);
    if (!process)
        return false;
    bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT && StartedAt(process) == started;
    CloseHandle(process);
    return alive;
}

int Lock(const wchar_t* folder)
{
    DWORD callerId;
    HANDLE caller = OpenCaller(&callerId);
    if (!caller) {
        Say(false, L"run-tests: cannot tell which cmd runs run-tests.cmd");
        return 2;
    }
    ULONGLONG started = StartedAt(caller);
    CloseHandle(caller);
    wchar_t file[kPath];
    _snwprintf(file, kPath - 1, L"%ls\\owner", folder);
    file[kPath - 1] = L'\0';
    if (!CreateDirectoryW(folder, nullptr)) {
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            Say(false, L"run-tests: cannot make the lock %ls (error %lu)", folder, GetLastError());
            return 2;
        }
        // A run that made the folder a moment ago may not have named itself yet.
        DWORD id = 0;
        ULONGLONG ownerStarted = 0;
        bool named = false;
        for (int look = 0; look < 20 && !(named = ReadOwner(file, &id, &ownerStarted)); ++look)
            Sleep(100);
        if (named && Alive(id, ownerStarted)) {
            Say(false, L"run-tests: another run of the tests is running (process %lu): they would save and put back"
                       L" each other's keys. One at a time; the lock is %ls", id, folder);
            return 2;
        }
        Say(false, L"run-tests: a run that was stopped left its lock; taking it over");
    }
    if (!WriteOwner(file, callerId, started)) {
        Say(false, L"run-tests: cannot write %ls", file);
        return 2;
    }
    return 0;
}

// ---- running one program ----------------------------------------------------

// Appends an argument to a command line, quoted as CommandLineToArgvW and the C
// runtime read it back.
void AppendArgument(wchar_t* line, size_t capacity, const wchar_t* argument)
{
    size_t at = wcslen(line);
    auto put = [&](wchar_t c) {
        if (at + 1 < capacity)
            line[at++] = c;
    };
    if (at)
        put(L' ');
    put(L'"');
    for (const wchar_t* c = argument;; ++c) {
        size_t backslashes = 0;
        while (*c == L'\\') {
            ++backslashes;
            ++c;
        }
        // Backslashes are doubled only before a quote, the closing one included.
        size_t times = (*c == L'"' || *c == L'\0') ? 2 * backslashes : backslashes;
        for (size_t i = 0; i < times; ++i)
            put(L'\\');
        if (*c == L'\0')
            break;
        if (*c == L'"')
            put(L'\\');
        put(*c);
    }
    put(L'"');
    line[at] = L'\0';
}

// This environment without GTEST_ variables, which would change what every
// program runs (a filter, a shard, a repeat). A block of strings ending in an empty one.
wchar_t* EnvironmentWithoutGoogleTest()
{
    wchar_t* all = GetEnvironmentStringsW();
    size_t size = 0;
    while (all[size])
        size += wcslen(all + size) + 1;
    wchar_t* kept = static_cast<wchar_t*>(calloc(size + 2, sizeof(wchar_t)));
    wchar_t* next = kept;
    for (const wchar_t* entry = all; *entry; entry += wcslen(entry) + 1) {
        if (_wcsnicmp(entry, L"GTEST_", 6) != 0) {
            wcscpy(next, entry);
            next += wcslen(entry) + 1;
        }
    }
    FreeEnvironmentStringsW(all);
    return kept;
}

// Whether a path survives the trip through the ANSI code page: GoogleTest
// takes its report's path through a narrow command line and C runtime.
bool Narrowable(const wchar_t* path)
{
    BOOL lost = FALSE;
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path, -1, nullptr, 0, nullptr, &lost) > 0 && !lost;
}

// Where GoogleTest can write the report: the results folder itself when its
// path survives the ANSI code page, else a folder of this run's own in the
// temporary folder, else in the common application data folder (whose paths
// hold the system's letters only); the report is moved to results afterwards.
// False when there is no such place.
bool ReportFolder(wchar_t* folder, bool* moved)
{
    *moved = false;
    if (GetFullPathNameW(L"results", kPath, folder, nullptr) && Narrowable(folder))
        return true;
    *moved = true;
    wchar_t base[kPath] = L"";
    if (!GetTempPathW(kPath, base) || !Narrowable(base))
        if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base)) ||
            !Narrowable(base))
            return false;
    size_t length = wcslen(base);
    if (length && base[length - 1] == L'\\')
        base[length - 1] = L'\0';
    _snwprintf(folder, kPath - 1, L"%ls\\halvane-tests-report-%lu", base, GetCurrentProcessId());
    folder[kPath - 1] = L'\0';
    return CreateDirectoryW(folder, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

struct Counts {
    int cases = 0, failed = 0, skipped = 0;
};

// The cases of a GoogleTest report: how many, and how many failed or skipped.
bool ReadReport(const wchar_t* path, Counts* counts)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD size = GetFileSize(file, nullptr), read = 0;
    char* text = static_cast<char*>(calloc(size + 1, 1));
    bool whole = ReadFile(file, text, size, &read, nullptr) && read == size;
    CloseHandle(file);
    for (char* testCase = strstr(text, "<testcase "); whole && testCase;) {
        char* next = strstr(testCase + 1, "<testcase ");
        if (next)
            *next = '\0';
        ++counts->cases;
        counts->failed += strstr(testCase, "<failure") != nullptr;
        counts->skipped += strstr(testCase, "result=\"skipped\"") != nullptr;
        if (next)
            *next = '<';
        testCase = next;
    }
    free(text);
    return whole;
}

bool IsOurs(const wchar_t* name)
{
    return _wcsicmp(name, L"halvane.exe") == 0 || _wcsicmp(name, L"halvane-host.exe") == 0 ||
           _wcsicmp(name, L"standin_browser.exe") == 0 || _wcsnicmp(name, L"halvane_test_", 13) == 0;
}

// Ends what the program left: whatever is still in its job, and Halvane's
// programs started since it began that left the job (the browser host starts
// Halvane outside its job), saying each. Only processes started meanwhile, so
// that nothing the user had running before is touched.
void EndLeftovers(HANDLE job, DWORD programId, ULONGLONG since, const wchar_t* name)
{
    struct {
        JOBOBJECT_BASIC_PROCESS_ID_LIST list;
        ULONG_PTR more[255];
    } inJob = {};
    inJob.list.NumberOfAssignedProcesses = 256;
    bool listed = QueryInformationJobObject(job, JobObjectBasicProcessIdList, &inJob, sizeof(inJob), nullptr);
    EachProcess([&](const ProcessEntry& entry) {
        bool left = false;
        for (DWORD i = 0; listed && i < inJob.list.NumberOfProcessIdsInList; ++i)
            left = left || (inJob.list.ProcessIdList[i] == entry.id && entry.id != programId);
        HANDLE process = nullptr;
        if (!left && IsOurs(entry.name) &&
            (process = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, entry.id))) {
            left = StartedAt(process) >= since && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
            if (left)
                TerminateProcess(process, 1);
            CloseHandle(process);
        }
        if (left)
            Say(true, L"run-tests: ended %ls (process %lu), which %ls left running", entry.name, entry.id, name);
        return true;
    });
    TerminateJobObject(job, 1);
}

HANDLE NewJob()
{
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    // Ended with its processes when this helper ends; a crash ends the process
    // without the crash dialog; and the browser host may start Halvane outside
    // it, as it does outside Firefox's job.
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK |
                                              JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    if (job && !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
        CloseHandle(job);
        job = nullptr;
    }
    return job;
}

// Starts the program suspended and in the job. Windows 7 puts a process in one
// job only, so from inside another job (a console some tools start in one) it
// is started out of that one. Under load Wine now and then refuses a start
// before any of the program ran (error 1359): tried again, three tries in all.
bool StartInJob(HANDLE job, wchar_t* commandLine, wchar_t* environment, STARTUPINFOW* startup,
                PROCESS_INFORMATION* info)
{
    AllowSetForegroundWindow(ASFW_ANY);  // as the driver and the host pass the foreground on
    for (DWORD flags : {0ul, static_cast<unsigned long>(CREATE_BREAKAWAY_FROM_JOB)}) {
        BOOL started = FALSE;
        for (int attempt = 1; attempt <= 3 && !started; ++attempt) {
            started = CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE,
                                     flags | CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, environment, nullptr,
                                     startup, info);
            if (!started && GetLastError() != ERROR_INTERNAL_ERROR)
                break;
            if (!started && attempt < 3) {
                fwprintf(stderr, L"launch-retry: bundle_helper: Wine could not start the program; try %d of 3\n",
                         attempt + 1);
                fflush(stderr);
            }
        }
        if (!started)
            return false;
        if (AssignProcessToJobObject(job, info->hProcess))
            return true;
        TerminateProcess(info->hProcess, 1);
        CloseHandle(info->hThread);
        CloseHandle(info->hProcess);
    }
    return false;
}

// Ctrl+C or Ctrl+Break end the program (it gets them too) but not this helper,
// which still ends what the program left and says so. A closed console ends it
// all.
BOOL WINAPI OnConsoleControl(DWORD control)
{
    return control == CTRL_C_EVENT || control == CTRL_BREAK_EVENT;
}

int Run(const wchar_t* name, const wchar_t* seconds, int count, wchar_t** arguments)
{
    wchar_t line[kPath] = L"", path[kPath], folder[kPath];
    DWORD limit = wcstoul(seconds, nullptr, 10);
    if (limit > 86400)
        limit = 86400;
    if (HalvaneIsRunning()) {
        Say(true, L"FAILED   %ls: not run, as Halvane is running", name);
        return 1;
    }
    bool moved;
    if (!ReportFolder(folder, &moved)) {
        Say(true, L"FAILED   %ls: not run: no folder for its report has a path this Windows' code page can spell"
                  L" (docs: Which folders work)", name);
        return 1;
    }
    _snwprintf(path, kPath - 1, L"bin\\%ls.exe", name);
    AppendArgument(line, kPath, path);
    _snwprintf(path, kPath - 1, L"--gtest_output=xml:%ls\\%ls.xml", folder, name);
    AppendArgument(line, kPath, path);
    AppendArgument(line, kPath, L"--gtest_also_run_disabled_tests");
    for (int i = 0; i < count; ++i)
        AppendArgument(line, kPath, arguments[i]);

    SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
    _snwprintf(path, kPath - 1, L"results\\%ls.txt", name);
    HANDLE output = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING,
                               0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = startup.hStdError = output;
    PROCESS_INFORMATION program = {};
    HANDLE job = NewJob();
    wchar_t* environment = EnvironmentWithoutGoogleTest();
    bool started = output != INVALID_HANDLE_VALUE && job && StartInJob(job, line, environment, &startup, &program);
    DWORD error = GetLastError();
    free(environment);
    CloseHandle(input);
    if (output != INVALID_HANDLE_VALUE)
        CloseHandle(output);
    if (!started) {
        Say(true, L"FAILED   %ls: could not be started in a job of its own (error %lu)", name, error);
        return 1;
    }
    ULONGLONG since = StartedAt(program.hProcess);
    ResumeThread(program.hThread);
    CloseHandle(program.hThread);

    // The program's end, its time limit, or the end of the cmd that runs the
    // tests (ended from Task Manager, say): then the program goes with it.
    DWORD callerId;
    HANDLE caller = OpenCaller(&callerId);
    HANDLE waits[] = {program.hProcess, caller};
    DWORD waited = WaitForMultipleObjects(caller ? 2 : 1, waits, FALSE, limit * 1000);
    if (waited != WAIT_OBJECT_0) {
        TerminateProcess(program.hProcess, 1);
        WaitForSingleObject(program.hProcess, 5000);
    }
    DWORD exitCode = 1;
    GetExitCodeProcess(program.hProcess, &exitCode);
    EndLeftovers(job, program.dwProcessId, since, name);
    CloseHandle(job);
    CloseHandle(program.hProcess);
    if (caller)
        CloseHandle(caller);
    if (waited == WAIT_OBJECT_0 + 1)
        return 1;  // no one to tell

    wchar_t report[kPath];
    _snwprintf(report, kPath - 1, L"results\\%ls.xml", name);
    if (moved) {
        _snwprintf(path, kPath - 1, L"%ls\\%ls.xml", folder, name);
        MoveFileExW(path, report, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
        RemoveDirectoryW(folder);
    }
    if (waited == WAIT_TIMEOUT) {
        Say(true, L"FAILED   %ls: ran past its limit of %lu s and was ended: see results\\%ls.txt", name, limit, name);
        return 1;
    }
    Counts counts;
    bool reported = ReadReport(report, &counts);
    wchar_t skips[64] = L"";
    if (counts.skipped)
        _snwprintf(skips, 63, L", %d skipped (see results\\%ls.xml)", counts.skipped, name);
    if (exitCode == 0 && reported && counts.cases > 0 && counts.failed == 0) {
        Say(true, L"passed   %ls: %d case%ls%ls", name, counts.cases, counts.cases == 1 ? L"" : L"s", skips);
        return 0;
    }
    if (!reported)
        Say(true, L"FAILED   %ls (exit code %ld): no report, see results\\%ls.txt", name, static_cast<long>(exitCode),
            name);
    else if (counts.cases == 0)
        Say(true, L"FAILED   %ls (exit code %ld): its report holds no case", name, static_cast<long>(exitCode));
    else
        Say(true, L"FAILED   %ls (exit code %ld): %d of %d cases failed%ls, see results\\%ls.txt", name,
            static_cast<long>(exitCode), counts.failed, counts.cases, skips, name);
    return 1;
}

int Usage()
{
    Say(false, L"usage: bundle_helper ready | lock FOLDER | run NAME SECONDS [ARGUMENT...]");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    if (argc == 2 && wcscmp(argv[1], L"ready") == 0)
        return Ready();
    if (argc == 3 && wcscmp(argv[1], L"lock") == 0)
        return Lock(argv[2]);
    if (argc >= 4 && wcscmp(argv[1], L"run") == 0 && wcstoul(argv[3], nullptr, 10) > 0)
        return Run(argv[2], argv[3], argc - 4, argv + 4);
    return Usage();
}
