// standin_browser: opens windows that look, to Halvane, like a browser's, so the
// title convention can be tried without a browser.
//
//   standin_browser                          commands on standard input:
//       open [CLASS] TITLE    opens a window (CLASS defaults to MozillaWindowClass)
//       title N TITLE         retitles window N ("_" + title hides it while kept)
//       close N               closes window N
//       state                 prints every window: class, title, topmost, visible
//       raised N S            waits up to S seconds for window N to be kept on top
//       down N S              waits up to S seconds for window N to leave the topmost band
//       prompt S [PROGRAM]    waits up to S seconds for the consent prompt of a
//                             halvane.exe (or of PROGRAM, the browser benchmark's
//                             bare dialog say) that something else started, and prints it
//       answer A              answers that prompt: always | once | never | cancel
//                             (a dialog without buttons is closed, whatever A)
//       exit S                waits up to S seconds for that program to end
//       launch TAIL           starts halvane.exe (next to this tool) with TAIL and
//                             watches it as above
//       prompts               prints how many consent prompts of any halvane.exe
//                             have shown since the last time it was asked
//       gone S [PROGRAM]      waits up to S seconds until no halvane.exe (or PROGRAM) runs
//       kill                  ends every halvane.exe at once, as Task Manager would
//       stored SITE           prints whether Halvane has a decision stored for SITE
//       quit                  (ends that halvane.exe if it still runs)
//     Lines are UTF-8.
//
//   standin_browser --title T --run "TAIL" [options]
//       opens one window titled T, starts halvane.exe (next to this tool) with
//       TAIL, and reports what happens to the window. Options:
//       --class C             window class (default MozillaWindowClass)
//       --answer A            always | once | never | cancel: answer the consent
//                             prompt if one appears; ask (default): leave it to the user
//       --pause MS            wait before answering, e.g. for a screenshot (default 0)
//       --toggle              retitle to "_" + T and back, reporting each state
//       --hold S              keep the window open S seconds before closing it (default 3)
#include "browser_windows.h"
#include "ui/resource_ids.h"
#include "driver.h"

#include <stdio.h>

#include <map>
#include <set>
#include <string>

namespace {

void Say(const std::wstring& line)
{
    // UTF-8 out, whatever the console code page.
    int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, &utf8[0], size, nullptr, nullptr);
    printf("%s\n", utf8.c_str());
    fflush(stdout);
}

std::wstring Describe(HWND window)
{
    return std::wstring(L"\"") + StandInBrowser::Title(window) + L"\" topmost=" +
           (StandInBrowser::IsTopmost(window) ? L"yes" : L"no") +
           L" visible=" + (StandInBrowser::IsVisible(window) ? L"yes" : L"no");
}

void SayPrompt(HWND prompt)
{
    Say(L"prompt: " + driver::Text(prompt) + L": " + driver::ItemText(prompt, IDC_MESSAGE));
    Say(L"PROMPT-SHOWN");
}

// answer: always | once | never | cancel.
void Answer(HWND prompt, const std::wstring& answer)
{
    static const std::map<std::wstring, int> choices = {
        {L"always", IDC_ALWAYS}, {L"once", IDC_JUST_THIS_TIME}, {L"never", IDC_NEVER}};
    auto choice = choices.find(answer);
    // The prompt takes no answer until it has been seen for a moment, and no
    // user answers sooner: a watcher that looks now and then sees it too.
    driver::WaitUntilInputCounts(prompt, driver::kPatienceMs);
    if (choice != choices.end()) {
        driver::Click(prompt, choice->second);
        driver::WaitUntil([&] { return driver::IsEnabled(prompt, IDOK); }, 5000);
        Say(L"answered: " + driver::ItemText(prompt, choice->second));
        driver::Click(prompt, IDOK);
    } else {
        Say(L"answered: " + driver::ItemText(prompt, IDCANCEL));
        driver::Click(prompt, IDCANCEL);
    }
    driver::WaitForDialogGone(prompt, 5000);
}

std::wstring FromUtf8(const char* text)
{
    int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(size > 0 ? size : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], size);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

// A halvane.exe that something else started (a browser's host, say), and its prompt.
struct Watched {
    driver::Process halvane;
    std::wstring program = L"halvane.exe";
    HWND prompt = nullptr;
    ~Watched() { driver::End(halvane); }
};

void WatchPrompt(Watched& watched, DWORD seconds, const std::wstring& program)
{
    if (program != watched.program && watched.halvane.handle) {
        // Another program's turn: the one watched so far is left to whoever started it.
        CloseHandle(watched.halvane.handle);
        watched.halvane = driver::Process{};
    }
    watched.program = program;
    if (driver::WaitForExit(watched.halvane, 0) != STILL_ACTIVE)
        driver::End(watched.halvane);  // the one watched before has ended: look for a new one
    // Every 10 ms: the browser benchmark times the prompt by this report.
    bool shown = driver::WaitUntil([&] {
        if (!watched.halvane.handle)
            watched.halvane = driver::FindProcess(program.c_str());
        std::vector<HWND> dialogs = watched.halvane.handle ? driver::DialogsOf(watched.halvane.id)
                                                           : std::vector<HWND>();
        watched.prompt = dialogs.empty() ? nullptr : dialogs.front();
        return watched.prompt != nullptr;
    }, seconds * 1000, 10);
    if (!shown) {
        Say(watched.halvane.handle ? L"no prompt" : L"no " + program);
        return;
    }
    SayPrompt(watched.prompt);
}

void AnswerWatched(Watched& watched, const std::wstring& answer)
{
    if (!watched.prompt) {
        Say(L"no prompt");
        return;
    }
    if (!GetDlgItem(watched.prompt, IDCANCEL)) {
        // The benchmark's bare dialog: closed as its close box would.
        PostMessageW(watched.prompt, WM_CLOSE, 0, 0);
        driver::WaitForDialogGone(watched.prompt, 5000);
        Say(L"answered: closed");
    } else {
        Answer(watched.prompt, answer);
    }
    watched.prompt = nullptr;
}

void WaitWatchedExit(const Watched& watched, DWORD seconds)
{
    DWORD code = driver::WaitForExit(watched.halvane, seconds * 1000);
    if (!watched.halvane.handle)
        Say(L"no " + watched.program);
    else if (code == STILL_ACTIVE)
        Say(watched.program + L" still runs");
    else
        Say(watched.program + L" exit code: " + std::to_wstring(static_cast<int>(code)));
}

// Counts the prompts of every halvane.exe, whoever started it, from a thread of
// its own: a browser's requests can raise several while a command waits.
struct PromptCounter {
    CRITICAL_SECTION lock;
    std::set<HWND> seen;
    int count = 0;
    PromptCounter()
    {
        InitializeCriticalSection(&lock);
        CloseHandle(CreateThread(nullptr, 0, Watch, this, 0, nullptr));
    }
    static DWORD WINAPI Watch(void* self)
    {
        auto* counter = static_cast<PromptCounter*>(self);
        for (;;) {
            for (DWORD id : driver::ProcessIds(L"halvane.exe")) {
                for (HWND dialog : driver::DialogsOf(id)) {
                    EnterCriticalSection(&counter->lock);
                    if (counter->seen.insert(dialog).second)
                        ++counter->count;
                    LeaveCriticalSection(&counter->lock);
                }
            }
            Sleep(50);
        }
    }
    int Take()
    {
        EnterCriticalSection(&lock);
        int taken = count;
        count = 0;
        LeaveCriticalSection(&lock);
        return taken;
    }
};

void WaitNoneRunning(DWORD seconds, const std::wstring& program)
{
    bool none = driver::WaitUntil([&] { return driver::ProcessIds(program.c_str()).empty(); }, seconds * 1000, 50);
    Say(program + (none ? L": none" : L": running"));
}

// "S [PROGRAM]": the program named after the seconds, or halvane.exe.
std::wstring ProgramOf(const std::wstring& rest)
{
    size_t space = rest.find(L' ');
    return space == std::wstring::npos || space + 1 == rest.size() ? L"halvane.exe" : rest.substr(space + 1);
}

int KillAll()
{
    int killed = 0;
    for (DWORD id : driver::ProcessIds(L"halvane.exe")) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (process && TerminateProcess(process, 1)) {
            WaitForSingleObject(process, 5000);
            ++killed;
        }
        if (process)
            CloseHandle(process);
    }
    return killed;
}

int Interactive()
{
    PromptCounter prompts;
    StandInBrowser browser;
    Watched watched;
    std::map<int, HWND> windows;
    int next = 1;
    char line[4096];
    while (fgets(line, sizeof(line), stdin)) {
        std::wstring command = FromUtf8(line);
        while (!command.empty() && (command.back() == L'\n' || command.back() == L'\r'))
            command.pop_back();
        std::wstring verb = command.substr(0, command.find(L' '));
        std::wstring rest = command.find(L' ') == std::wstring::npos ? L"" : command.substr(command.find(L' ') + 1);
        if (verb == L"open") {
            std::wstring className = L"MozillaWindowClass";
            std::wstring first = rest.substr(0, rest.find(L' '));
            if (first.rfind(L"Mozilla", 0) == 0 && first.size() > 7 && first.find(L"Class") != std::wstring::npos) {
                className = first;
                rest = rest.find(L' ') == std::wstring::npos ? L"" : rest.substr(rest.find(L' ') + 1);
            }
            HWND window = browser.Open(className, rest);
            windows[next] = window;
            Say(L"window " + std::to_wstring(next++) + L" " + className + L" " + Describe(window));
        } else if (verb == L"title" || verb == L"close" || verb == L"raised" || verb == L"down") {
            int id = _wtoi(rest.c_str());
            auto found = windows.find(id);
            if (found == windows.end()) {
                Say(L"no window " + std::to_wstring(id));
                continue;
            }
            std::wstring argument = rest.find(L' ') == std::wstring::npos ? L"" : rest.substr(rest.find(L' ') + 1);
            if (verb == L"close") {
                browser.Close(found->second);
                windows.erase(found);
                Say(L"closed " + std::to_wstring(id));
                continue;
            }
            DWORD waitMs = _wtoi(argument.c_str()) * 1000;
            if (verb == L"title")
                browser.Retitle(found->second, argument);
            else if (verb == L"raised")
                driver::WaitRaised(found->second, waitMs);
            else
                driver::WaitUntil([&] { return !driver::IsTopmost(found->second); }, waitMs);
            Say(L"window " + std::to_wstring(id) + L" " + Describe(found->second));
        } else if (verb == L"state") {
            for (auto& [id, window] : windows)
                Say(L"window " + std::to_wstring(id) + L" " + Describe(window));
        } else if (verb == L"prompt") {
            WatchPrompt(watched, _wtoi(rest.c_str()), ProgramOf(rest));
        } else if (verb == L"answer") {
            AnswerWatched(watched, rest);
        } else if (verb == L"exit") {
            WaitWatchedExit(watched, _wtoi(rest.c_str()));
        } else if (verb == L"launch") {
            driver::End(watched.halvane);
            watched.halvane = driver::Launch(rest);
            watched.program = L"halvane.exe";
            Say(watched.halvane.handle ? L"launched" : L"could not start " + driver::ProgramPath());
        } else if (verb == L"prompts") {
            Say(L"prompts: " + std::to_wstring(prompts.Take()));
        } else if (verb == L"gone") {
            WaitNoneRunning(_wtoi(rest.c_str()), ProgramOf(rest));
        } else if (verb == L"kill") {
            Say(L"killed " + std::to_wstring(KillAll()));
        } else if (verb == L"stored") {
            driver::KeyContents stored = driver::ReadDecisionsKey();
            Say(stored.count(rest) ? L"stored: yes" : L"stored: none");
        } else if (verb == L"quit") {
            break;
        } else if (!verb.empty()) {
            Say(L"commands: open [CLASS] TITLE | title N TITLE | close N | state | raised N S | down N S"
                L" | prompt S [PROGRAM] | answer A | exit S | launch TAIL | prompts | gone S [PROGRAM] | kill"
                L" | stored SITE | quit");
        }
    }
    return 0;
}

struct RunOptions {
    std::wstring title, tail, className = L"MozillaWindowClass", answer = L"ask";
    DWORD pauseMs = 0, holdSeconds = 3;
    bool toggle = false;
};

int AnswerPrompt(const driver::Process& halvane, const RunOptions& options)
{
    HWND prompt = driver::WaitForDialog(halvane.id, 3000);
    if (!prompt) {
        Say(L"no prompt: the site's decision is remembered");
        return 0;
    }
    SayPrompt(prompt);
    if (options.answer == L"ask") {
        Say(L"waiting for your answer in the prompt...");
        driver::WaitForDialogGone(prompt, 600000);
        return 0;
    }
    Sleep(options.pauseMs);
    Answer(prompt, options.answer);
    return 0;
}

void Report(HWND window, const wchar_t* when)
{
    Say(std::wstring(when) + L": window " + Describe(window));
}

int Run(const RunOptions& options)
{
    StandInBrowser browser;
    HWND window = browser.Open(options.className, options.title);
    Report(window, L"opened");
    driver::ScopedProcess halvane(driver::Launch(options.tail));
    if (!halvane.get().handle) {
        Say(L"could not start " + driver::ProgramPath());
        return 2;
    }
    Say(L"started: halvane.exe " + options.tail);
    AnswerPrompt(halvane.get(), options);

    if (halvane.WaitForExit(1500) != STILL_ACTIVE) {
        Report(window, L"halvane ended before the window closed");
    } else {
        Report(window, L"kept");
        Say(L"KEPT-SHOWN");
        if (options.toggle) {
            browser.Retitle(window, L"_" + options.title);
            Sleep(1500);
            Report(window, L"retitled with \"_\"");
            browser.Retitle(window, options.title);
            Sleep(1500);
            Report(window, L"plain title again");
        }
        Sleep(options.holdSeconds * 1000);
        browser.Close(window);
        Say(L"closed the window");
    }
    DWORD code = halvane.WaitForExit(5000);
    if (code == STILL_ACTIVE)
        Say(L"halvane.exe did not end; stopping it");
    else
        Say(L"halvane.exe exit code: " + std::to_wstring(static_cast<int>(code)));
    return code == STILL_ACTIVE ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    RunOptions options;
    bool run = false;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == L"--title" && hasValue) options.title = argv[++i];
        else if (arg == L"--run" && hasValue) { options.tail = argv[++i]; run = true; }
        else if (arg == L"--class" && hasValue) options.className = argv[++i];
        else if (arg == L"--answer" && hasValue) options.answer = argv[++i];
        else if (arg == L"--pause" && hasValue) options.pauseMs = _wtoi(argv[++i]);
        else if (arg == L"--hold" && hasValue) options.holdSeconds = _wtoi(argv[++i]);
        else if (arg == L"--toggle") options.toggle = true;
        else {
            Say(L"usage: standin_browser [--title T --run TAIL [--class C] [--answer always|once|never|cancel|ask]"
                L" [--pause MS] [--toggle] [--hold S]]");
            return 2;
        }
    }
    return run ? Run(options) : Interactive();
}
