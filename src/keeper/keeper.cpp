// The keeper's four platform calls; its decisions live in keeper_logic.cpp.
#include "keeper/keeper.h"

#include "keeper/keeper_logic.h"

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

void KeepWindowOnTop(const wchar_t* windowTitle)
{
    static const KeeperCalls platform = {nullptr, FindBrowserWindow, ReadExtendedStyle, MoveInZOrder, Pause};
    KeepWindowOnTopWith(windowTitle, &platform);
}
