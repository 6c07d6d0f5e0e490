// Stand-in browser windows: top-level windows of the three browser classes that
// Halvane looks for, owned by a thread of their own that keeps pumping messages
// (another process's SetWindowPos on them waits for that thread).
// Used by the standin_browser tool and, in-process, by the tests.
#ifndef HALVANE_STANDIN_BROWSER_WINDOWS_H
#define HALVANE_STANDIN_BROWSER_WINDOWS_H

#include <windows.h>

#include <string>

class StandInBrowser {
public:
    StandInBrowser();
    ~StandInBrowser();  // closes every window it opened
    StandInBrowser(const StandInBrowser&) = delete;
    StandInBrowser& operator=(const StandInBrowser&) = delete;

    // className: "MozillaUIWindowClass", "MozillaDialogClass" or "MozillaWindowClass".
    HWND Open(const std::wstring& className, const std::wstring& title, bool visible = true);
    void Retitle(HWND window, const std::wstring& title);
    void Close(HWND window);

    static bool IsTopmost(HWND window);
    static bool IsVisible(HWND window);
    static std::wstring Title(HWND window);

private:
    static DWORD WINAPI ThreadMain(void* self);
    static LRESULT CALLBACK ControlProc(HWND, UINT, WPARAM, LPARAM);
    HANDLE thread_ = nullptr;
    HANDLE ready_ = nullptr;
    HWND control_ = nullptr;  // message-only window that runs requests on the windows' thread
};

#endif
