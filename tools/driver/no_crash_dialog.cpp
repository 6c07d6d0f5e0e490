// Linked into every Windows-side test program: a crash ends the program at
// once instead of raising Windows' "has stopped working" dialog, which would
// wait for a click that never comes. The programs the tests start inherit the
// setting, halvane.exe among them.
#include <windows.h>

namespace {

const UINT kErrorMode = SetErrorMode(SetErrorMode(0) | SEM_NOGPFAULTERRORBOX);

}  // namespace
