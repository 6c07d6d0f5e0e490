// The entry point and the whole start-up flow: one pass, then the process ends.
#include "app/globals.h"
#include "app/language.h"
#include "decisions/decision_table.h"
#include "decisions/registry_store.h"
#include "keeper/keeper.h"
#include "text/text.h"
#include "ui/dialogs.h"
#include "ui/resource_ids.h"

#include <wchar.h>

enum {
    ExitEmptyCommandLine = -1,
    ExitMalformedCommandLine = -2,
    ExitDone = 0,
};

// The language code alone: the Preferences dialog, saved when it ends with OK.
static int RunPreferencesAlone()
{
    SelectInterfaceLanguage(LaunchRequest.languageCode);
    if (RunPreferences(nullptr) == IDOK)
        SaveDecisions();
    return ExitDone;
}

// The table keeps its own copy of the site, so every entry's domain is heap-owned alike.
static void RememberSite(int32_t decision)
{
    AddDecision(DuplicateText(LaunchRequest.site, static_cast<uint32_t>(wcslen(LaunchRequest.site))), decision);
    SaveDecisions();
}

static void ActOnPromptChoice()
{
    switch (PromptChoice) {
    case IDC_ALWAYS:
        RememberSite(DecisionAllow);
        KeepWindowOnTop(LaunchRequest.windowTitle);
        break;
    case IDC_JUST_THIS_TIME:
        KeepWindowOnTop(LaunchRequest.windowTitle);
        break;
    case IDC_NEVER:
        RememberSite(DecisionDeny);
        break;
    }
}

static void HandleRequest()
{
    int32_t decision = FindDecision(LaunchRequest.site);
    if (decision == NoDecision) {
        // The language matters only to the dialogs; a remembered decision shows
        // none, and then USER32 need never be loaded at all.
        SelectInterfaceLanguage(LaunchRequest.languageCode);
        // A prompt that cannot be created (-1) or is cancelled counts as no answer.
        if (DialogBoxParamW(AppInstance, MAKEINTRESOURCEW(IDD_CONSENT_PROMPT), nullptr, PromptDialogProc, 0) == IDOK)
            ActOnPromptChoice();
    } else if (decision == DecisionAllow) {
        KeepWindowOnTop(LaunchRequest.windowTitle);
    }
    // A remembered Deny, or any other stored value: nothing to do.
}

// The program's own folder is often Downloads: no DLL may be found there, nor
// in the current folder. Where the system can, every later load by name (the
// delay-loaded USER32 and GDI32 too) searches the system folder alone. Both
// calls are looked up, so the program still starts on systems without them.
static void SearchSystemFolderOnly()
{
    typedef BOOL(WINAPI * SetDefaultDirectoriesCall)(DWORD);
    typedef BOOL(WINAPI * SetDirectoryCall)(const wchar_t*);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto setDefaultDirectories = reinterpret_cast<SetDefaultDirectoriesCall>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    auto setDirectory =
        reinterpret_cast<SetDirectoryCall>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryW")));
    if (setDefaultDirectories)
        setDefaultDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (setDirectory)
        setDirectory(L"");
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR tail, int)
{
    AppInstance = instance;
    SearchSystemFolderOnly();
    if (!tail || !*tail)
        return ExitEmptyCommandLine;

    // Only one copy runs: the named mutex's existence is the guard, never its ownership.
    HANDLE guard = CreateMutexW(nullptr, FALSE, L"HalvaneExe");
    if (!guard || GetLastError() == ERROR_ALREADY_EXISTS)
        return ExitDone;

    LoadDecisions();
    if (!ParseCommandLine(tail, &LaunchRequest)) {
        if (LaunchRequest.site || LaunchRequest.windowTitle || !LaunchRequest.languageCode)
            return ExitMalformedCommandLine;
        return RunPreferencesAlone();
    }

    HandleRequest();
    ReleaseMutex(guard);
    CloseHandle(guard);
    // Without USER32 this thread never had a message queue to post to.
    if (GetModuleHandleW(L"user32.dll"))
        PostQuitMessage(0);
    return ExitDone;
}
