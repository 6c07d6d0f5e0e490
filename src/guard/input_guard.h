// The consent prompt's guard against input meant for something else: clicks
// and keys that reach it before the user could have read it are dropped
// before any control sees them.
#ifndef HALVANE_INPUT_GUARD_H
#define HALVANE_INPUT_GUARD_H

#include <windows.h>

// From the prompt's WM_INITDIALOG until its WM_DESTROY.
void StartInputGuard(HWND prompt);
void StopInputGuard();
// Every message of the prompt's dialog procedure: activation, showing and
// moving start the guard time again.
void WatchInputGuard(UINT message, WPARAM wParam, LPARAM lParam);

#endif
