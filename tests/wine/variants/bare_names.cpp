// Linked into halvane_test_bare_names.exe alone: the program loading its system
// DLLs by bare name, so that the search order kept to the system folder is its
// only defence.
#include "app/system_libraries.h"

static HMODULE LoadByBareName(const wchar_t* fileName)
{
    return LoadLibraryW(fileName);
}

// Runs before wWinMain, as the program's statics are set up.
static const bool installed = (Libraries.LoadSystemLibrary = LoadByBareName, true);
