// The dialog procedures and the helpers they share.
#ifndef HALVANE_DIALOGS_H
#define HALVANE_DIALOGS_H

#include <windows.h>

INT_PTR CALLBACK PromptDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PreferencesDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Runs the Preferences dialog modally over owner (or alone); its result is
// IDOK, IDCANCEL, or -1 when it cannot be created. Saving is the caller's task.
INT_PTR RunPreferences(HWND owner);

// Both dialogs open centred on the primary screen and above every normal window.
void CentreAndRaise(HWND dialog);
// Called last in each dialog's set-up: a hidden start must not hide the dialog.
void ShowDespiteStartupInfo(HWND dialog);
// Loads a string of the interface language into a buffer of TextBufferLength.
const wchar_t* LoadText(UINT id, wchar_t* buffer);

// The Allow/Deny drop-down over the selected row's decision cell.
void CreateDecisionEditor(HWND dialog);
void PlaceDecisionEditor(HWND dialog);
void DestroyDecisionEditor();
LRESULT CALLBACK SiteListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam);

#endif
