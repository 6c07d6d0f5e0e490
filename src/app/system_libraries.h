// Where the program's DLLs come from: the system folder, never the program's
// own folder (often Downloads) nor the current one, where a DLL of a system
// library's name could be lying in wait.
#ifndef HALVANE_SYSTEM_LIBRARIES_H
#define HALVANE_SYSTEM_LIBRARIES_H

#include <windows.h>

// The two defences' platform calls: looking up the calls that keep the DLL
// search to the system folder (null where the system lacks one), and loading
// a system DLL by its full path. Test-only builds of the program replace one
// to show that the other holds alone.
struct LibraryCalls {
    void* (*FindSearchCall)(const char* name);
    HMODULE (*LoadSystemLibrary)(const wchar_t* fileName);
};

extern LibraryCalls Libraries;

// First thing at start: every later load by name searches the system folder
// alone, where the system can.
void SearchSystemFolderOnly();
// Before the first dialog: the DLLs that system DLLs load by name for it.
void PreloadDialogLibraries();

#endif
