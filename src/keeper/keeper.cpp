// The keeper's platform calls; its decisions live in keeper_logic.cpp.
#include "keeper/keeper.h"

#include "keeper/keeper_logic.h"
#include "text/system_case.h"

#include <windows.h>

void (*KeeperSearched)(const wchar_t* className, const wchar_t* title, bool found) = nullptr;

static void* FindBrowserWindow(void*, const wchar_t* className, const wchar_t* title)
{
    HWND window = FindWindowW(className, title);
    if (KeeperSearched)
        KeeperSearched(className, title, window != nullptr);
    return window;
}

static uint32_t ReadExtendedStyle(void*, void* window)
{
    return static_cast<uint32_t>(GetWindowLongW(static_cast<HWND>(window), GWL_EXSTYLE));
}

static void MoveInZOrder(void*, void* window, intptr_t insertAfter, uint32_t flags)
{
    SetWindowPos(static_cast<HWND>(window), reinterpret_cast<HWND>(insertAfter), 0, 0, 0, 0, flags);
}

static void Pause(void*, uint32_t milliseconds)
{
    Sleep(milliseconds);
}

struct WindowList {
    wchar_t* title;
    uint32_t capacity;
    KeeperVisit visit;
    void* visitContext;
};

// A window closed since the snapshot has no class name any more and is passed over.
static BOOL CALLBACK VisitWindow(HWND window, LPARAM context)
{
    WindowList* list = reinterpret_cast<WindowList*>(context);
    wchar_t className[257];
    if (GetClassNameW(window, className, 257)) {
        list->title[0] = L'\0';
        InternalGetWindowText(window, list->title, static_cast<int>(list->capacity));
        list->visit(list->visitContext, window, className, list->title);
    }
    return TRUE;
}

// EnumWindows takes its list of windows before the first visit, so a window
// that moves in the z-order meanwhile is still seen once. InternalGetWindowText
// reads the title the system holds, the very text FindWindowW compares, and
// sends no message: GetWindowTextW would send WM_GETTEXT to a window of this
// process and wait for the thread that owns it.
static void ListWindows(void*, wchar_t* title, uint32_t capacity, KeeperVisit visit, void* visitContext)
{
    WindowList list = {title, capacity, visit, visitContext};
    EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&list));
}

void KeepWindowOnTop(const wchar_t* windowTitle)
{
    // FindWindowW matches titles by the system's case rule, as the registry
    // matches value names: each code unit through the system's upper-case table.
    const KeeperCalls platform = {nullptr, FindBrowserWindow, ReadExtendedStyle, MoveInZOrder, Pause,
                                  ListWindows,  SystemCaseFold()};
    KeepWindowOnTopWith(windowTitle, &platform);
}
