// What the host's two Windows-side files share.
#include "host/host_win32.h"

#include "host/host_request.h"

#include <windows.h>

bool ModulePath(std::wstring* path)
{
    path->assign(MaxCommandLineChars + 1, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, &(*path)[0], static_cast<DWORD>(path->size()));
    if (length == 0 || length >= path->size())
        return false;
    path->resize(length);
    return path->find(L'\\') != std::wstring::npos;
}
