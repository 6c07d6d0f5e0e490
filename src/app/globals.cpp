#include "app/globals.h"

HINSTANCE AppInstance;
LaunchValues LaunchRequest;
int PromptChoice;
wchar_t AllowText[TextBufferLength];
wchar_t DenyText[TextBufferLength];
HICON DialogIcon;
NMLISTVIEW SelectedRow;
WNDPROC PreviousListProc;
HWND DecisionEditor;
