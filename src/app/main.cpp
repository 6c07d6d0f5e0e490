// The entry point and the whole start-up flow: one pass, then the process ends.
#include "app/globals.h"
#include "app/language.h"
#include "app/system_libraries.h"
#include "decisions/decision_table.h"
#include "decisions/registry_store.h"
#include "keeper/keeper.h"
#include "policy/policy_registry.h"
#include "policy/site_policy.h"
#include "text/text.h"
#include "ui/dialogs.h"
#include "ui/resource_ids.h"

#include <wchar.h>

enum {
    ExitEmptyCommandLine = -1,
    ExitMalformedCommandLine = -2,
    ExitDone = 0,
};

// Just before the first dialog, and before the first USER32 call loads USER32.
// The language matters only to the dialogs; a remembered decision shows none,
// and then USER32 need never be loaded at all.
static void PrepareDialogs()
{
    PreloadDialogLibraries();
    SelectInterfaceLanguage(LaunchRequest.languageCode);
}

// The language code alone: the Preferences dialog, saved when it ends with OK.
static int RunPreferencesAlone()
{
    PrepareDialogs();
    if (RunPreferences(nullptr) == IDOK)
        SaveDecisions();
    return ExitDone;
}

// The answer is added as an entry of its own, except where the site's first
// entry holds a value that reads as no decision (a stored -1): that entry takes
// the answer, or the save could write the -1 after it and lose the answer. The
// table keeps its own copy of the site, so every entry's domain is heap-owned alike.
static void RememberSite(int32_t decision)
{
    if (FindDecision(LaunchRequest.site) != NoDecision || !UpdateDecision(LaunchRequest.site, decision))
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

// The administrators' policy first, then the user's own decision, then the
// default (ChooseRoad). Policy only ever chooses a road: nothing of it is
// stored, so the user's own answers are back once it is gone.
static void HandleRequest()
{
    switch (ChooseRoad(&AdminPolicy, LaunchRequest.site, FindDecision(LaunchRequest.site))) {
    case RoadAsk:
        PrepareDialogs();
        // A prompt that cannot be created (-1) or is cancelled counts as no answer.
        if (DialogBoxParamW(AppInstance, MAKEINTRESOURCEW(IDD_CONSENT_PROMPT), nullptr, PromptDialogProc, 0) == IDOK)
            ActOnPromptChoice();
        break;
    case RoadKeepByPolicy:
    case RoadKeepByUser:
        KeepWindowOnTop(LaunchRequest.windowTitle);
        break;
    case RoadDeclineByPolicy:
    case RoadDeclineByUser:
        // A Deny, any other stored value, or the administrators' "no": nothing to do.
        break;
    }
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
    LoadPolicy(&AdminPolicy);
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
