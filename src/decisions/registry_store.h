// Loading and saving the decision table under HKCU\Software\Marrowin\Quillery\Halvane.
#ifndef HALVANE_REGISTRY_STORE_H
#define HALVANE_REGISTRY_STORE_H

#include <windows.h>

#define DECISIONS_KEY_PATH L"Software\\Marrowin\\Quillery\\Halvane"

// The registry functions the store calls. Normally ADVAPI32's own; tests put
// wrappers here that fail on purpose to prove that a failed save loses nothing.
struct RegistryCalls {
    LSTATUS(WINAPI* OpenKeyEx)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
    LSTATUS(WINAPI* CreateKeyEx)(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM,
                                 const LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD);
    LSTATUS(WINAPI* QueryInfoKey)(HKEY, LPWSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD,
                                  LPDWORD, LPDWORD, LPDWORD, PFILETIME);
    LSTATUS(WINAPI* EnumValue)(HKEY, DWORD, LPWSTR, LPDWORD, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
    LSTATUS(WINAPI* QueryValueEx)(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
    LSTATUS(WINAPI* SetValueEx)(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD);
    LSTATUS(WINAPI* DeleteValue)(HKEY, LPCWSTR);
    LSTATUS(WINAPI* CloseKey)(HKEY);
};

extern RegistryCalls Registry;

void LoadDecisions();
void SaveDecisions();

#endif
