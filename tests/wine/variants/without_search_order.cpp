// Linked into halvane_test_without_search_order.exe alone: the program as on
// Windows XP, where neither call that keeps the DLL search to the system folder
// exists, so that loading system DLLs by full path is its only defence.
#include "app/system_libraries.h"

static void* FindNoSearchCall(const char*)
{
    return nullptr;
}

// Runs before wWinMain, as the program's statics are set up.
static const bool installed = (Libraries.FindSearchCall = FindNoSearchCall, true);
