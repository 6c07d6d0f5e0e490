// The keeper's platform calls; its decisions live in keeper_logic.cpp.
#include "keeper/keeper.h"

#include "keeper/keeper_logic.h"
#include "text/text.h"

#include <windows.h>

static void* FindBrowserWindow(void*, const wchar_t* className, const wchar_t* title)
{
    return FindWindowW(className, title);
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

// InternalGetWindowText reads the title the system holds, in one go and without
// a message: GetWindowTextW would send WM_GETTEXT to the browser, which may hang.
static bool ReadTitleOfClass(void*, void* window, const wchar_t* className, wchar_t* title, uint32_t capacity)
{
    HWND handle = static_cast<HWND>(window);
    wchar_t actualClass[257];
    if (!IsWindow(handle) || !GetClassNameW(handle, actualClass, 257) ||
        !EqualIgnoringAsciiCase(actualClass, className))
        return false;
    title[0] = L'\0';
    InternalGetWindowText(handle, title, static_cast<int>(capacity));
    return true;
}

void KeepWindowOnTop(const wchar_t* windowTitle)
{
    static const KeeperCalls platform = {nullptr, FindBrowserWindow, ReadExtendedStyle, MoveInZOrder, Pause,
                                         ReadTitleOfClass};
    KeepWindowOnTopWith(windowTitle, &platform);
}
