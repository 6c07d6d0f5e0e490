// The guard sits in a message filter on the prompt's modal loop (WH_MSGFILTER,
// MSGF_DIALOGBOX). The filter sees each mouse and key message with its own
// message time before the dialog manager or a control acts on it, so a dropped
// press leaves no trace. A check in the dialog procedure would come too late:
// by the time BN_CLICKED arrives, an auto radio button has checked itself and
// a key has already moved the focus or pressed a button. No thread and no
// timer: the filter runs only when a message does.
#include "guard/input_guard.h"

#include "guard/input_guard_logic.h"

static HWND GuardedPrompt;
static HHOOK PromptFilter;
static GuardClock PromptClock;

static bool IsPromptWindow(HWND window)
{
    return window && (window == GuardedPrompt || IsChild(GuardedPrompt, window));
}

static LRESULT CALLBACK FilterPromptInput(int code, WPARAM wParam, LPARAM lParam)
{
    const MSG* message = reinterpret_cast<const MSG*>(lParam);
    if (code == MSGF_DIALOGBOX && IsPromptWindow(message->hwnd)) {
        GuardedInput input = {message->message, message->wParam, static_cast<uintptr_t>(message->lParam),
                              message->time, message->hwnd == GetDlgItem(GuardedPrompt, IDCANCEL)};
        if (!InputCounts(input, PromptClock))
            return TRUE;  // dropped: the dialog manager never sees it
    }
    return CallNextHookEx(PromptFilter, code, wParam, lParam);
}

void StartInputGuard(HWND prompt)
{
    GuardedPrompt = prompt;
    // Placing the prompt may have activated it already, before it is shown.
    PromptClock = {GetActiveWindow() == prompt, GetTickCount(), InputGuardTime(GetDoubleClickTime())};
    PromptFilter = SetWindowsHookExW(WH_MSGFILTER, FilterPromptInput, nullptr, GetCurrentThreadId());
}

void StopInputGuard()
{
    if (PromptFilter)
        UnhookWindowsHookEx(PromptFilter);
    PromptFilter = nullptr;
    GuardedPrompt = nullptr;
}

void WatchInputGuard(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ACTIVATE) {
        PromptClock.active = LOWORD(wParam) != WA_INACTIVE;
        PromptClock.since = GetTickCount();
    } else if (message == WM_WINDOWPOSCHANGED) {
        // Moved, or shown; the move that centres the prompt comes before it is shown.
        const WINDOWPOS* position = reinterpret_cast<const WINDOWPOS*>(lParam);
        if (!(position->flags & SWP_NOMOVE) || (position->flags & SWP_SHOWWINDOW))
            PromptClock.since = GetTickCount();
    }
}
