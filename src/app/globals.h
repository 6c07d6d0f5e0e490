// The process-wide variables the start-up flow and the dialogs share. The
// decision table, the registry calls and the system case table live with the
// code that owns them.
// The program runs on one thread, so none of them needs a lock.
#ifndef HALVANE_GLOBALS_H
#define HALVANE_GLOBALS_H

#include <windows.h>
#include <commctrl.h>

#include "app/command_line.h"

enum { TextBufferLength = 256, TextLimit = 255 };  // every loaded or read-back text

extern HINSTANCE AppInstance;                  // our module; stored before anything else
extern LaunchValues LaunchRequest;             // the parsed command line, written once
extern int PromptChoice;                       // id of the prompt's choice clicked last, 0 before
extern wchar_t AllowText[TextBufferLength];    // "Allow" in the interface language
extern wchar_t DenyText[TextBufferLength];     // "Deny" in the interface language
extern HICON DialogIcon;                       // the prompt's icon, borrowed by Preferences
extern NMLISTVIEW SelectedRow;                 // last focus/selection change of the site list
extern WNDPROC PreviousListProc;               // the site list's own window procedure
extern HWND DecisionEditor;                    // the Allow/Deny drop-down, or null

#endif
