// The floor of a remembered Deny: what any program that answers it must do.
// It loads ADVAPI32, opens the decisions key and reads the one value the
// command line names, then exits, with 0 only if the value is a stored Deny
// (so that a floor that read nothing cannot pass for a fast one).
#include <windows.h>

#include "decisions/registry_store.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR tail, int)
{
    HKEY key;
    if (!tail || RegOpenKeyExW(HKEY_CURRENT_USER, DECISIONS_KEY_PATH, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 1;
    DWORD decision = 1, size = sizeof(decision);
    LSTATUS status = RegQueryValueExW(key, tail, nullptr, nullptr, reinterpret_cast<BYTE*>(&decision), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && size == sizeof(decision) && decision == 0 ? 0 : 1;
}
