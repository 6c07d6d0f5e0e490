#include "browser_windows.h"

namespace {

const wchar_t* const kClasses[] = {L"MozillaUIWindowClass", L"MozillaDialogClass", L"MozillaWindowClass"};
const wchar_t kControlClass[] = L"HalvaneStandInControl";

enum : UINT { WM_OPEN_WINDOW = WM_APP + 1, WM_CLOSE_WINDOW };

struct OpenRequest {
    const wchar_t* className;
    const wchar_t* title;
    bool visible;
};

LRESULT CALLBACK BrowserWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        wchar_t title[512];
        GetWindowTextW(window, title, 512);
        std::wstring text = L"Stand-in browser window\n\n" + std::wstring(title);
        DrawTextW(dc, text.c_str(), -1, &client, DT_CENTER | DT_VCENTER | DT_WORDBREAK | DT_NOPREFIX);
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterClasses()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = BrowserWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    for (const wchar_t* name : kClasses) {
        windowClass.lpszClassName = name;
        RegisterClassW(&windowClass);
    }
}

}  // namespace

LRESULT CALLBACK StandInBrowser::ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_OPEN_WINDOW) {
        auto* request = reinterpret_cast<OpenRequest*>(lParam);
        HWND opened = CreateWindowExW(0, request->className, request->title, WS_OVERLAPPEDWINDOW, 120, 90, 560, 360,
                                      nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (opened && request->visible)
            ShowWindow(opened, SW_SHOWNOACTIVATE);
        return reinterpret_cast<LRESULT>(opened);
    }
    if (message == WM_CLOSE_WINDOW)
        return DestroyWindow(reinterpret_cast<HWND>(wParam));
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI StandInBrowser::ThreadMain(void* param)
{
    auto* self = static_cast<StandInBrowser*>(param);
    RegisterClasses();
    WNDCLASSW controlClass = {};
    controlClass.lpfnWndProc = ControlProc;
    controlClass.hInstance = GetModuleHandleW(nullptr);
    controlClass.lpszClassName = kControlClass;
    RegisterClassW(&controlClass);
    self->control_ = CreateWindowExW(0, kControlClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
    SetEvent(self->ready_);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

StandInBrowser::StandInBrowser()
{
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
    WaitForSingleObject(ready_, 10000);
}

StandInBrowser::~StandInBrowser()
{
    // Destroying the control window's thread destroys every window it owns.
    PostMessageW(control_, WM_QUIT, 0, 0);
    PostThreadMessageW(GetThreadId(thread_), WM_QUIT, 0, 0);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    CloseHandle(ready_);
}

HWND StandInBrowser::Open(const std::wstring& className, const std::wstring& title, bool visible)
{
    OpenRequest request = {className.c_str(), title.c_str(), visible};
    return reinterpret_cast<HWND>(SendMessageW(control_, WM_OPEN_WINDOW, 0, reinterpret_cast<LPARAM>(&request)));
}

void StandInBrowser::Retitle(HWND window, const std::wstring& title)
{
    SetWindowTextW(window, title.c_str());
}

void StandInBrowser::Close(HWND window)
{
    SendMessageW(control_, WM_CLOSE_WINDOW, reinterpret_cast<WPARAM>(window), 0);
}

bool StandInBrowser::IsTopmost(HWND window)
{
    return (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

bool StandInBrowser::IsVisible(HWND window)
{
    return IsWindowVisible(window) != FALSE;
}

std::wstring StandInBrowser::Title(HWND window)
{
    wchar_t title[1024] = {};
    GetWindowTextW(window, title, 1024);
    return title;
}
